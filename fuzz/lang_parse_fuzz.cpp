// Any byte sequence lexes and parses without fault; a tree that comes back is consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lang/front.h"
#include "platform/report.h"

namespace {

// Every token inside a tree lies inside the source, in order.
void CheckTree(const plimo::TResultList& list, std::string_view source, long& last) {
    for (const plimo::TResultItem& item : list) {
        if (const plimo::TLexElem* t = item.Token()) {
            if (t->Position() < last || t->End() > static_cast<long>(source.size())) std::abort();
            if (t->Text() != source.substr(t->Position(), t->Text().size())) std::abort();
            last = t->End();
        } else {
            CheckTree(*item.List(), source, last);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static plimo::TCapturingReporter reporter;
    static std::unique_ptr<plimo::TYup> yup = plimo::NewPlimoYup(reporter);
    std::string_view source(reinterpret_cast<const char*>(data), size);
    plimo::TParsedSource p = plimo::ParsePlimoSource(*yup, source);
    if (p.errorPosition < 0 || p.errorPosition > static_cast<long>(size)) std::abort();
    if (p.tree) {
        long last = 0;
        CheckTree(*p.tree->Root(), source, last);
        if (size < 4096) (void)plimo::DumpTree(*p.tree->Root(), true);
    }
    return 0;
}
