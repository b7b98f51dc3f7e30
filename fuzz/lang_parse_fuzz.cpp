// Any byte sequence lexes and parses without fault; a tree that comes back is consistent; on short
// texts the parser's shortcuts give what the plain ordered-choice parse gives.
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
    }
    if (size < 2048) {
        static std::unique_ptr<plimo::TYup> plain = [] {
            auto y = plimo::NewPlimoYup(reporter);
            y->SetPlainParse({true, 200000});
            return y;
        }();
        plimo::TParsedSource q = plimo::ParsePlimoSource(*plain, source);
        if (!p.tooDeep && !q.tooDeep) { // a parse that gave up stopped wherever it was
            if (bool(p.tree) != bool(q.tree) || p.tokens->lastMatched != q.tokens->lastMatched) std::abort();
            if (p.tree && plimo::DumpTree(*p.tree->Root()) != plimo::DumpTree(*q.tree->Root())) std::abort();
        }
    }
    return 0;
}
