#include "base/json_value.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon {
namespace {

using namespace std::string_literals;

std::string Dump(std::string_view text) {
    return JsonValue::parse(text).dump();
}

template <class E>
void ExpectThrows(std::string_view text, const char* message) {
    try {
        JsonValue::parse(text);
        ADD_FAILURE() << "no exception for " << text;
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message) << text;
    }
}

// Every bit of the value, including the sign of a zero or a NaN.
std::string Exact(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%a", d);
    return buf;
}

std::string Printf15g(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

TEST(JsonValueTest, KindsFollowTheVariantOrderAndReadsCheckThem) {
    // clang-format off
    const JsonValue values[] = {JsonValue(), JsonValue(true), JsonValue(7), JsonValue(2.5),
                                JsonValue("s"), JsonValue(JsonValue::Array{}),
                                JsonValue(JsonValue::Object{})};
    // clang-format on
    for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<int>(values[i].type()), i);
    EXPECT_EQ(JsonValue(nullptr).type(), JsonType::Null);
    EXPECT_EQ(JsonValue(std::uint8_t{200}).asInteger(), 200);
    EXPECT_EQ(JsonValue(-5L).asInteger(), -5);
    EXPECT_EQ(JsonValue(1.5f).asDouble(), 1.5);
    EXPECT_EQ(JsonValue(std::string_view("ab")).asString(), "ab");
    EXPECT_EQ(JsonValue("x"s).asString(), "x");
    EXPECT_FALSE(JsonValue(false).asBool());

    try {
        (void)values[2].asDouble();  // an Integer is not a Number
        ADD_FAILURE() << "no exception";
    } catch (const std::bad_variant_access& e) {
        EXPECT_STREQ(e.what(), "bad variant access");
    }
    JsonValue number(3.0);
    EXPECT_THROW(number.asInteger(), std::bad_variant_access);
    EXPECT_THROW(values[0].asObject(), std::bad_variant_access);
    number.asDouble() = 4.5;
    EXPECT_EQ(number.dump(), "4.5");
}

TEST(JsonParseTest, ReadsScalarsAndContainers) {
    const JsonValue v = JsonValue::parse("  [1, 2.5, -3, true, null, \"a\\u0041\"]");
    ASSERT_EQ(v.type(), JsonType::Array);
    const JsonValue::Array& a = v.asArray();
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(a[0].asInteger(), 1);
    EXPECT_EQ(a[1].asDouble(), 2.5);
    EXPECT_EQ(a[2].asInteger(), -3);
    EXPECT_TRUE(a[3].asBool());
    EXPECT_EQ(a[4].type(), JsonType::Null);
    EXPECT_EQ(a[5].asString(), "aA");

    EXPECT_EQ(JsonValue::parse("007").asInteger(), 7);
    EXPECT_EQ(JsonValue::parse("-0").type(), JsonType::Integer);
    EXPECT_EQ(JsonValue::parse("-9223372036854775808").asInteger(),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(JsonValue::parse("\v\f\r\n\t 5").asInteger(), 5);
    EXPECT_EQ(JsonValue::parse("1.").asDouble(), 1.0);
    EXPECT_EQ(JsonValue::parse("1e5").asDouble(), 1e5);
    EXPECT_EQ(JsonValue::parse("1E+2").asDouble(), 100.0);
    EXPECT_EQ(JsonValue::parse("1e").asDouble(), 1.0);  // strtod stops before a bare exponent
    EXPECT_EQ(JsonValue::parse("-.5").asDouble(), -0.5);
    EXPECT_EQ(JsonValue::parse("\"\\/\\\"\\\\\\b\\f\\n\\r\\t\\q\"").asString(), "/\"\\\b\f\n\r\tq");
}

TEST(JsonParseTest, StopsWhereTheTextStopsMakingSense) {
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"[1,2", "[1,2]"}, {"{\"a\":1", "{\"a\":1}"}, {"{\"a\" 1}", "{}"}, {"[1,]", "[1,null]"},
        {"[,1]", "[null,1]"}, {"[1 2]", "[1]"}, {"[1]]", "[1]"}, {"{} trailing", "{}"},
        {"garbage", "null"}, {"tru", "null"}, {"nul", "null"}, {"+1", "null"}, {".5", "null"},
        {"", "null"}, {" \t", "null"}, {"falsey", "false"}, {"[true,fals]", "[true,null]"},
        {"{\"a\":}", "{\"a\":null}"}, {"{\"a\":1 \"b\":2}", "{\"a\":1}"}, {"{1:2}", "{}"},
        {"{\"a\":1,\"b\"", "{\"a\":1}"}, {"1.5.3", "1.5"}, {"\"abc", "\"abc\""},
        {"[{\"a\",2]", "[{}]"},                 // the byte where ':' was expected is consumed
        {"[{\"a\":1,},3]", "[{\"a\":1}]"},      // '}' after a comma ends the array too
        {"\"ab\\", "\"ab\\u0000\""},            // a final backslash escapes the 0 the end reads as
        {"[\"\\u1\"x\"]", "[\"\\u0001]\"]"},    // the escape's four bytes swallow the quotes
        {"{\"k\":[1,{\"x\":[]}],\"j\":{}}", "{\"j\":{},\"k\":[1,{\"x\":[]}]}"}};
    // clang-format on
    for (const auto& [text, dump] : cases) EXPECT_EQ(Dump(text), dump) << text;
}

TEST(JsonParseTest, ConversionErrorsThrowTheStandardMessages) {
    for (const char* text : {"-", "-x", "[1,-]", "{\"a\":-}"}) {
        ExpectThrows<std::invalid_argument>(text, "invalid stoll argument");
    }
    for (const char* text : {"-.", "-.e5", "-e5"}) {
        ExpectThrows<std::invalid_argument>(text, "invalid stod argument");
    }
    for (const char* text : {"1e999", "-1e999", "1e-400", "5e-324", "1.7976931348623159e308"}) {
        ExpectThrows<std::out_of_range>(text, "stod argument out of range");
    }
    for (const char* text :
         {"9223372036854775808", "-9223372036854775809", "[1,99999999999999999999]"}) {
        ExpectThrows<std::out_of_range>(text, "stoll argument out of range");
    }
    for (const char* text : {"\"\\uzzzz\"", "\"\\u", "\"\\u-\"", "{\"k\\u \":1}"}) {
        ExpectThrows<std::invalid_argument>(text, "invalid stoi argument");
    }
}

TEST(JsonParseTest, ObjectsKeepTheLastDuplicateInByteOrder) {
    EXPECT_EQ(Dump("{\"b\":1,\"a\":2,\"b\":3}"), "{\"a\":2,\"b\":3}");
    EXPECT_EQ(Dump("{\"a\":[1,2],\"a\":{\"b\":1}}"), "{\"a\":{\"b\":1}}");
    EXPECT_EQ(Dump("{\"a\":1,\"a\":x}"), "{\"a\":null}");
    EXPECT_EQ(Dump("{\"b\":1,\"ab\":2,\"\\u00e9\":5,\"a\":3,\"B\":4}"),
              "{\"B\":4,\"a\":3,\"ab\":2,\"b\":1,\"\xC3\xA9\":5}");
    JsonValue built;
    built["name"] = "x";
    built["id"] = 1;
    built["enabled"] = true;
    EXPECT_EQ(built.dump(), "{\"enabled\":true,\"id\":1,\"name\":\"x\"}");
}

TEST(JsonParseTest, UnicodeEscapesDecodeToUtf8) {
    const std::string fffd = "\xEF\xBF\xBD";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"Z\\u00fcrich", "Z\xC3\xBCrich"},
        {"\\u007f\\u0080\\u07FF\\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {"\\u20ac\\uffff", "\xE2\x82\xAC\xEF\xBF\xBF"},
        {"\\ud83d\\ude00", "\xF0\x9F\x98\x80"}, {"\\uDBFF\\uDFFF", "\xF4\x8F\xBF\xBF"},
        {"\\ud83dx", fffd + "x"}, {"\\ud83d\\u0041", fffd + "A"},
        {"\\ud83d\\ud83d\\ude00", fffd + "\xF0\x9F\x98\x80"}, {"\\ude00\\ud83d", fffd + fffd},
        {"\\u-001", fffd}, {"\\u0x41\\u+041\\u 41x", "AAA"}, {"\\u00411", "A1"},
        {"\\u0000", "\0"s}};
    // clang-format on
    for (const auto& [body, bytes] : cases) {
        EXPECT_EQ(JsonValue::parse("\"" + body + "\"").asString(), bytes) << body;
    }
}

TEST(JsonParseTest, HexEscapesFollowTheStoiRules) {
    // Every four-byte escape over an alphabet of digits, prefixes, signs and spaces, compared
    // with std::stoi in base 16 (the tests run in the classic locale).
#ifdef _WIN32
    GTEST_SKIP() << "this C runtime's strtol reads \"0x\" without a digit after it as no "
                    "number, not as the C standard's 0, so it cannot be the reference";
#endif
    const std::string alphabet = "01fFxX-+ \tg";
    const std::size_t n = alphabet.size();
    for (std::size_t combo = 0; combo < n * n * n * n; ++combo) {
        const std::string four = {alphabet[combo % n], alphabet[combo / n % n],
                                  alphabet[combo / n / n % n], alphabet[combo / n / n / n]};
        const std::string text = "\"\\u" + four + "Z\"";
        int code;
        try {
            code = std::stoi(four, nullptr, 16);
        } catch (const std::invalid_argument&) {
            ExpectThrows<std::invalid_argument>(text, "invalid stoi argument");
            continue;
        }
        const std::u16string unit(1, code < 0 ? u'\uFFFD' : static_cast<char16_t>(code));
        ASSERT_EQ(JsonValue::parse(text).asString(), toUtf8(unit) + "Z") << four;
    }
}

TEST(JsonParseTest, NestingStopsAtTheDepthLimit) {
    const JsonValue deep = JsonValue::parse(std::string(100000, '['));
    int levels = 0;
    const JsonValue* cur = &deep;
    while (cur->type() == JsonType::Array) {
        ++levels;
        ASSERT_EQ(cur->asArray().size(), 1u);
        cur = &cur->asArray()[0];
    }
    EXPECT_EQ(levels, kMaxJsonDepth);
    EXPECT_EQ(cur->type(), JsonType::Null);

    const auto nested = [](int n, const char* inner) {
        return std::string(n, '[') + inner + std::string(n, ']');
    };
    EXPECT_EQ(Dump(nested(kMaxJsonDepth, "7")), nested(kMaxJsonDepth, "7"));
    EXPECT_EQ(Dump(nested(kMaxJsonDepth + 1, "7")), nested(kMaxJsonDepth, "null"));

    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    const std::string dump = Dump(objects);
    EXPECT_EQ(dump.size(), kMaxJsonDepth * std::strlen("{\"a\":}") + 4);
    EXPECT_NE(dump.find("{\"a\":null}"), std::string::npos);
}

TEST(JsonDumpTest, EscapesOnlyControlBytesQuotesAndBackslashes) {
    EXPECT_EQ(JsonValue::escapeString("\x01\x0B/\xC3\xA9\x7F"), "\"\\u0001\\u000b/\xC3\xA9\x7F\"");
    EXPECT_EQ(JsonValue::escapeString("\b\t\n\f\r\"\\"), "\"\\b\\t\\n\\f\\r\\\"\\\\\"");
    EXPECT_EQ(JsonValue::escapeString("a\0b\x1f"s), "\"a\\u0000b\\u001f\"");
    EXPECT_EQ(JsonValue::escapeString(""), "\"\"");
    JsonValue object;
    object["k\"\x1e"] = "v\n";
    EXPECT_EQ(object.dump(), "{\"k\\\"\\u001e\":\"v\\n\"}");

    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    EXPECT_EQ(JsonValue::parse(JsonValue(all).dump()).asString(), all);
}

TEST(JsonDumpTest, WritesNumbersAndScalarsCompactly) {
    // clang-format off
    const std::pair<double, const char*> doubles[] = {
        {3.0, "3"}, {0.30000000000000004, "0.3"}, {1e20, "1e+20"}, {0.1, "0.1"}, {-2.5, "-2.5"},
        {1e-5, "1e-05"}, {1e14, "100000000000000"}, {1e15, "1e+15"}, {-0.0, "-0"},
        {DBL_MAX, "1.79769313486232e+308"}, {123456789.123456789, "123456789.123457"},
        {std::nan(""), "null"}, {INFINITY, "null"}, {-INFINITY, "null"}};
    // clang-format on
    for (const auto& [d, text] : doubles) EXPECT_EQ(JsonValue(d).dump(), text) << d;

    EXPECT_EQ(JsonValue(std::numeric_limits<std::int64_t>::min()).dump(), "-9223372036854775808");
    EXPECT_EQ(JsonValue(std::numeric_limits<std::int64_t>::max()).dump(), "9223372036854775807");
    EXPECT_EQ(JsonValue(0).dump(), "0");
    JsonValue doc;
    doc["list"] = JsonValue::Array{1, "a", true, false, nullptr, JsonValue::Object{}, INFINITY};
    doc["empty"] = JsonValue::Array{};
    EXPECT_EQ(doc.dump(), "{\"empty\":[],\"list\":[1,\"a\",true,false,null,{},null]}");
}

TEST(JsonDumpTest, DoublesMatchPrintf) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> scale(-12, 12);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (i % 2) d = std::round(std::pow(10.0, scale(rng)) * 1000) / 1000;  // short decimals
        if (!std::isfinite(d)) continue;
        ASSERT_EQ(JsonValue(d).dump(), Printf15g(d)) << bits;
    }
}

TEST(JsonValueTest, MemberAccessReadsWithoutWritingAndWritesObjects) {
    JsonValue array(JsonValue::Array{1});
    JsonValue null;
    JsonValue object = JsonValue::parse("{\"y\":1}");
    for (const JsonValue* v : {&array, &null, &object}) {
        EXPECT_EQ(v->member("x").type(), JsonType::Null);
        EXPECT_FALSE(v->contains("x"));
    }
    EXPECT_EQ(&array.member("x"), &object.member("x"));
    EXPECT_EQ(object.member("y").asInteger(), 1);
    EXPECT_TRUE(object.contains("y"));
    EXPECT_EQ(object.dump(), "{\"y\":1}");

    array["x"];
    EXPECT_EQ(array.dump(), "{\"x\":null}");
    JsonValue text("text");
    text["a"]["b"] = 2;
    EXPECT_EQ(text.dump(), "{\"a\":{\"b\":2}}");
    object["y"] = "z";
    EXPECT_EQ(object.dump(), "{\"y\":\"z\"}");

    // Assigning a value from inside itself, as a tree walk does.
    JsonValue tree = JsonValue::parse("{\"a\":{\"b\":[1,2]},\"n\":5,\"s\":\"x\"}");
    JsonValue copy = tree;
    tree = tree.member("a");
    EXPECT_EQ(tree.dump(), "{\"b\":[1,2]}");
    JsonValue scalar = copy;
    scalar = scalar.member("n");
    EXPECT_EQ(scalar.asInteger(), 5);
    copy = std::move(copy["s"]);
    EXPECT_EQ(copy.asString(), "x");
}

TEST(JsonValueTest, PushBackGrowsByHalf) {
    JsonValue list(JsonValue::Array{});
    std::vector<std::size_t> capacities;
    for (int i = 0; i < 10; ++i) {
        list.push_back(i);
        capacities.push_back(list.asArray().capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{1, 2, 3, 4, 6, 6, 9, 9, 9, 13}));
    list.push_back(list);
    EXPECT_EQ(list.dump(), "[0,1,2,3,4,5,6,7,8,9,[0,1,2,3,4,5,6,7,8,9]]");
    JsonValue text("x");
    text.push_back(true);
    EXPECT_EQ(text.dump(), "[true]");
}

TEST(JsonUtf8Test, ConvertsAndReplacesInvalidSequences) {
    EXPECT_EQ(toUtf8(u""), "");
    EXPECT_EQ(fromUtf8(""), u"");
    const std::u16string wide = u"Z\u00fcrich \u20ac \U0001F600 \0 end"s;
    const std::string bytes = "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80 \0 end"s;
    EXPECT_EQ(toUtf8(wide), bytes);
    EXPECT_EQ(fromUtf8(bytes), wide);

    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8(std::u16string{u'a', 0xD800, u'b'}), "a" + fffd + "b");
    EXPECT_EQ(toUtf8(std::u16string{0xDC00, 0xD800}), fffd + fffd);

    // One replacement per maximal ill-formed subpart.
    // clang-format off
    const std::pair<std::string, std::u16string> invalid[] = {
        {"\x80", u"\uFFFD"}, {"\xF5\xFF", u"\uFFFD\uFFFD"}, {"a\xC3", u"a\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},                                  // surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},                        // > U+10FFFF
        {"\xE2\x82", u"\uFFFD"}, {"\xF0\x9F\x98\x41", u"\uFFFDA"}};               // truncated
    // clang-format on
    for (const auto& [in, out] : invalid) EXPECT_EQ(fromUtf8(in), out) << in;
}

TEST(JsonParseDecimalTest, FollowsStodInTheClassicLocale) {
    char exactSubnormal[1200];
    std::snprintf(exactSubnormal, sizeof exactSubnormal, "%.1074f", 3 * std::ldexp(1.0, -1074));
    // clang-format off
    const std::string inputs[] = {
        "1.5", "  -2.5e3xyz", "+.5", "\t\n7", "1e", "1e+", "0x1p3", "0x1.8p1", "0X.8", "0x", "0xg",
        "0x-1", "-0x10", "0xinf", "inf", "-Infinity", "nan", "NAN(123)", "1e-310", "5e-324",
        "2.2250738585072013e-308", "2.225073858507201e-308", "1e-400", "1e309", "0e999999",
        "1.7976931348623159e308", "0x1p-1074", "0x1.8p-1074", "0x1p-1075", "0x1p99999",
        "0x9p+-1", "0x1.p-2", exactSubnormal, "", " ", "-", "+-1", "--1", ".", "e5", "abc", "1,5"};
    // clang-format on
#ifdef _WIN32
    GTEST_SKIP() << "this C runtime's strtod reports no range error for an inexact subnormal "
                    "result, unlike the C standard's, so it cannot be the reference";
#endif
    for (const std::string& in : inputs) {
        // The library's own messages differ between implementations; ours are fixed.
        std::string expected, actual;
        try {
            expected = Exact(std::stod(in));
        } catch (const std::invalid_argument&) {
            expected = "invalid stod argument";
        } catch (const std::out_of_range&) {
            expected = "stod argument out of range";
        }
        try {
            actual = Exact(ParseDecimal(in));
        } catch (const std::exception& e) {
            actual = e.what();
        }
        EXPECT_EQ(actual, expected) << in;
    }
}

TEST(JsonLocaleTest, NumbersIgnoreTheGlobalLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
        if (std::setlocale(LC_ALL, name) &&
            std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            comma = name;
            break;
        }
    }
    if (!comma) {
        std::setlocale(LC_ALL, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    const std::string dump = Dump("[1.5,2e-1,0.25]");
    const std::string single = JsonValue(1234.5).dump();
    const double decimal = ParseDecimal("1.5");
    const double stopsAtComma = ParseDecimal("1,5");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(dump, "[1.5,0.2,0.25]") << comma;
    EXPECT_EQ(single, "1234.5");
    EXPECT_EQ(decimal, 1.5);
    EXPECT_EQ(stopsAtComma, 1.0);
}

}  // namespace
}  // namespace quillon
