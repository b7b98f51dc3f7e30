// Both markup readers on arbitrary bytes: no crash, no sanitizer report, and bounded work however deep
// the nesting (the readers keep their own stack).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/report.h"
#include "resources/resource_system.h"
#include "resources/sgml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    for (int roots = 0; roots < 8 && pos < text.size(); ++roots) {
        std::size_t before = pos;
        auto element = plimo::TSGML::Scan(text, pos);
        if (element) {
            // The writer's output grows with the square of the depth; keep it to modest inputs.
            if (size < 4096) {
                std::string written = element->ToText();
                std::size_t again = 0;
                auto reread = plimo::TSGML::Scan(written, again);
                if (!reread && !element->GetTagName().empty()) __builtin_trap(); // written elements read back
            }
        }
        if (pos == before) ++pos; // a closing tag leaves the cursor on its '<'
        if (pos > text.size()) __builtin_trap();
    }
    plimo::TCapturingReporter reporter;
    pos = 0;
    try {
        auto element = plimo::TSGML::Parse(text, pos, &reporter);
        (void)element;
    } catch (const plimo::ETagError&) {
    }
    // The tag table over whatever the scanner made of it; links would read files, so they build nothing.
    plimo::TResourceSystem system(reporter);
    system.baseFolder = "/game";
    system.RegisterTag("link", [](plimo::TResourceSystem&, const plimo::TSGML&, const std::string&) {
        return std::unique_ptr<plimo::TResource>();
    });
    system.root = system.ParseResourceText(text);
    if (system.root && size < 4096) {
        plimo::TLines lines;
        system.root->SaveTo(lines, "");
        system.root->ListPaths(lines, "");
        (void)system.Resolve("a.b.c");
        (void)system.Resolve("$x");
    }
    std::string escaped = plimo::TSGML::EscapeValue(text);
    if (plimo::TSGML::UnescapeValue(escaped) != text) __builtin_trap();
    return 0;
}
