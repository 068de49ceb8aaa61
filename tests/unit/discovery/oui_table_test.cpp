#include "discovery/oui_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillon {
namespace {

TEST(OuiLine, ReadsBlocksAndSkipsWhatIsNotOne) {
    struct Case {
        const char* name;
        std::string line;
        std::optional<OuiEntry> expected;
    };
    const std::string huge(1 << 20, 'x');
    const Case cases[] = {
        {"long name wins", "00:00:0C\tCisco\tCisco Systems, Inc",
         OuiEntry{"00000C", "Cisco Systems, Inc"}},
        {"short name alone", "00:00:0C\tCisco", OuiEntry{"00000C", "Cisco"}},
        {"empty long name falls back", "00:00:0C\tCisco\t", OuiEntry{"00000C", "Cisco"}},
        {"lower case, dashes", "a4-2b-b0\tExample", OuiEntry{"A42BB0", "Example"}},
        {"28-bit block", "00:55:DA:50:00:00/28\tNooks\tNooks Ltd",
         OuiEntry{"0055DA5", "Nooks Ltd"}},
        {"36-bit block", "00:1B:C5:00:00:00/36\tConverg\tConverging Systems",
         OuiEntry{"001BC5000", "Converging Systems"}},
        {"other mask is 24 bits", "00:55:DA:50:00:00/32\tX", OuiEntry{"0055DA", "X"}},
        {"mask with a blank is 24 bits", "00:55:DA:50:00:00/28 \tX", OuiEntry{"0055DA", "X"}},
        {"CRLF and trailing blanks", "00:00:0C\tCisco\tCisco Systems \t\r",
         OuiEntry{"00000C", "Cisco Systems"}},
        {"tabs inside the long name kept", "00:00:0C\tC\tA\tB", OuiEntry{"00000C", "A\tB"}},
        {"other characters in the prefix ignored", "00.00.0c\tC", OuiEntry{"00000C", "C"}},
        {"broken UTF-8 replaced", "00:00:0C\tV\xE4ster\xE5s",
         OuiEntry{"00000C", "V\xEF\xBF\xBDster\xEF\xBF\xBDs"}},
        {"huge vendor", "00:00:0C\t" + huge, OuiEntry{"00000C", huge}},
        {"comment", "# 00:00:0C\tCisco", std::nullopt},
        {"empty", "", std::nullopt},
        {"carriage return only", "\r", std::nullopt},
        {"no tab", "00:00:0C Cisco", std::nullopt},
        {"blank vendor", "00:00:0C\t   \t", std::nullopt},
        {"blank long name hides the short", "00:00:0C\tCisco\t  ", std::nullopt},
        {"five digits", "00:00:0\tShort", std::nullopt},
        {"short 36-bit block keeps its 7 digits", "00:55:DA:5/36\tX", OuiEntry{"0055DA5", "X"}},
        {"short 36-bit block of 8 digits", "00:55:DA:50/36\tX", std::nullopt},
        {"huge prefix of no digits", huge + "\tX", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseOuiLine(c.line), c.expected) << c.name;
    }
}

TEST(OuiLine, ListCountsLinesAndKeepsOrder) {
    size_t lines = 0;
    const auto entries =
        ParseOuiList("# header\r\n\r\n00:00:0C\tA\r\nbad line\n00:00:0D\tB\n00:00:0C\tC", &lines);
    EXPECT_EQ(lines, 6u);
    EXPECT_EQ(entries, (std::vector<OuiEntry>{{"00000C", "A"}, {"00000D", "B"}, {"00000C", "C"}}));
    ParseOuiList("a\nb\n", &lines);
    EXPECT_EQ(lines, 2u);
}

TEST(OuiRegistryText, ReadsTheThreeBlockSizes) {
    const std::string text =
        "OUI/MA-L                                                    Organization\r\n"
        "company_id                                                  Organization\r\n"
        "\r\n"
        "00-22-72   (hex)\t\tAmerican Micro-Fuel Device Corp.\r\n"
        "002272     (base 16)\t\tAmerican Micro-Fuel Device Corp.\r\n"
        "\t\t\t\t2181 Buchanan Loop\r\n"
        "\t\t\t\tUS\r\n"
        "\r\n"
        "74-1A-E0   (hex)\t\tPrivate\r\n"
        "900000-9FFFFF     (base 16)\t\tPrivate\r\n"
        "\r\n"
        "70-b3-d5   (hex)\t\tTELEPLATFORMS\n"
        "F2F000-F2FFFF     (base 16)\t\tTELEPLATFORMS\n"
        "\n"
        "70-B3-D5   (hex)\t\tOdd range\n"
        "F2F000-F2F0FF     (base 16)\t\tOdd range\n"
        "70-B3-D5   (hex)\t\tTwo digits\n"
        "F20000-F2FFFF     (base 16)\t\tTwo digits\n"
        "00-22   (hex)\t\tShort prefix\n"
        "0022     (base 16)\t\tShort prefix\n"
        "(base 16)\t\tNo prefix before\n"
        "00-50-C2   (hex)\t\tName from the hex line\n"
        "000000-000FFF     (base 16)\n";
    EXPECT_EQ(ParseIeeeRegistryText(text),
              (std::vector<OuiEntry>{{"002272", "American Micro-Fuel Device Corp."},
                                     {"741AE09", "Private"},
                                     {"70B3D5F2F", "TELEPLATFORMS"},
                                     {"0050C2000", "Name from the hex line"}}));
}

TEST(OuiTable, LongestPrefixThenLocallyAdministeredFallbacks) {
    OuiTable table;
    table.Add(std::vector<OuiEntry>{{"0055DA", "Block owner"},
                                    {"0055DA5", "28-bit owner"},
                                    {"70B3D5F2F", "36-bit owner"},
                                    {"70B3D5", "IEEE registration"},
                                    {"001122", "Cimsys"},
                                    {"041122", "Own prefix first"},
                                    {"A42BB0", "Example"},
                                    {"A42BB0", "Example Networks"},  // later line wins
                                    {"3C0754", "Nibble neighbour"},
                                    {"10AA00", "Third octet"},
                                    {"12345", "too short, ignored"}});
    EXPECT_EQ(table.Size(), 9u);

    struct Case {
        const char* mac;
        const char* vendor;  // null: unknown
    };
    const Case cases[] = {
        {"00:55:DA:5F:12:34", "28-bit owner"},
        {"00:55:DA:4F:12:34", "Block owner"},
        {"70:B3:D5:F2:F1:23", "36-bit owner"},
        {"70:B3:D5:F2:E1:23", "IEEE registration"},
        {"a4-2b-b0-01-02-03", "Example Networks"},
        {"A42B.B001.0203", "Example Networks"},
        {"a42bb0010203", "Example Networks"},
        {"02:11:22:33:44:55", "Cimsys"},            // locally administered: first octet & 0xFC
        {"01:11:22:33:44:55", "Cimsys"},            // group bit alone
        {"06:11:22:33:44:55", "Own prefix first"},  // 04 before the nibble's 00
        {"3E:07:54:00:00:01", "Nibble neighbour"},  // 3E & 0xFC = 3C is the owner ...
        {"36:07:54:00:00:01", "Nibble neighbour"},  // ... and so for its nibble neighbours
        {"3A:07:54:00:00:01", "Nibble neighbour"},
        {"38:07:54:00:00:01", nullptr},  // universally administered: no neighbours tried
        {"10:AA:01:00:00:01", "Third octet"},
        {"10:AA:03:00:00:01", nullptr},
        {"00:11:2", nullptr},
        {"", nullptr},
        {"zz:zz:zz:zz", nullptr},
    };
    for (const Case& c : cases) {
        const std::string* vendor = table.FindVendor(c.mac);
        if (c.vendor == nullptr) {
            EXPECT_EQ(vendor, nullptr) << c.mac << " gave " << *vendor;
        } else {
            ASSERT_NE(vendor, nullptr) << c.mac;
            EXPECT_EQ(*vendor, c.vendor) << c.mac;
        }
    }
    EXPECT_EQ(NormalizeMac(" aa-Bb:cC.dd ee/FF!"), "AABBCCDDEEFF");
}

}  // namespace
}  // namespace quillon
