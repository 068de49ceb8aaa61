// Fuzzes the reader of service definition files and of the page's save command: whatever the
// bytes, a definition that is read must write back to a file that reads as the same definition,
// its file name must be safe, and the page's field decoder must never run past the message.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "services/service_store.h"
#include "ui/ui_dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (const auto definition = quillon::ParseServiceDefinition(text)) {
        const std::string written = quillon::SerializeServiceDefinition(*definition);
        const auto again = quillon::ParseServiceDefinition(written);
        Check(again.has_value() && *again == *definition);
        const std::string name = quillon::ServiceFileName(definition->id);
        Check(name.size() == definition->id.size() + 5);
        Check(name.find_first_of("/\\:*?\"<>|") == std::string::npos);
        for (const char c : name) Check(static_cast<unsigned char>(c) >= 0x20);
    }

    const std::string field = quillon::ExtractStringField(text, "id");
    Check(field.size() <= size * 3);  // a \u escape of 6 bytes decodes to at most 3
    return 0;
}
