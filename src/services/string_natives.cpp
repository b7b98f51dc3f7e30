#include "services/string_natives.h"

#include <algorithm>

#include "classes/rtti.h"
#include "classes/runtime.h"
#include "compiler/eval.h"
#include "core/errors.h"
#include "core/strings.h"
#include "core/symbols.h"
#include "platform/text.h"
#include "services/regexp.h"

namespace plimo {

std::string SubstringOf(std::string_view text, std::int32_t start, std::int32_t end, bool wide) {
    std::int64_t length =
        wide ? static_cast<std::int64_t>(SjisCharCount(text)) : static_cast<std::int64_t>(text.size());
    std::int64_t from = start, to = end;
    if (from >= length || to < from) return {};
    std::int64_t take = to - from;
    if (from < 0) from = 0;
    take = std::min(take, length - from);
    if (!wide)
        return std::string(text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(take)));
    return SjisSubstring(text, static_cast<std::size_t>(from), static_cast<std::size_t>(take));
}

namespace {

using std::int32_t;

std::string SelfText(TValue* base) {
    return ValueToText(This(base));
}

// The receiver's text for reading only: a string's own body, not a copy of it (length and substring
// run in every string loop); any other receiver's display text is held here.
class TSelfView {
public:
    explicit TSelfView(TValue* base) {
        const TValue& self = This(base);
        if (self.tag == vtObject && self.bits && IsStringObject(self)) {
            m_view = StringText(ObjectOf(self));
        } else {
            m_copy = ValueToText(self);
            m_view = m_copy;
        }
    }
    TSelfView(const TSelfView&) = delete;
    TSelfView& operator=(const TSelfView&) = delete;
    std::string_view text() const { return m_view; }

private:
    std::string m_copy;
    std::string_view m_view;
};

void FreeBody(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    delete HostAs<TfString>(Arg(base, 1));
}

void Init(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    TInstance* self = ArgObject(This(base));
    TValue* body = self ? MemberCell(self, kSymBody) : nullptr;
    if (!body) return;
    // The body this string had is its own (every string gets a fresh one), so it goes with the swap.
    TfString* old = HostAs<TfString>(*body);
    SetHost(*body, new TfString(std::string(1, static_cast<char>(ArgInt(Arg(base, 1)) & 0xFF))));
    delete old;
}

void Strcat(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    ResultString(base, SelfText(base) + ArgText(Arg(base, 1)));
}

void Substring(TValue* base, int32_t count, int32_t, bool wide) {
    if (count < 1) return;
    TSelfView self(base);
    std::string_view text = self.text();
    int32_t start = ArgInt(Arg(base, 1));
    int32_t end =
        count >= 2 ? ArgInt(Arg(base, 2)) : static_cast<int32_t>(wide ? SjisCharCount(text) : text.size());
    // The piece is copied out before the result replaces the receiver (and may free its body).
    ResultString(base, SubstringOf(text, start, end, wide));
}

void ByteSubstring(TValue* base, int32_t count, int32_t zero) {
    Substring(base, count, zero, false);
}
void WideSubstring(TValue* base, int32_t count, int32_t zero) {
    Substring(base, count, zero, true);
}

void Length(TValue* base, int32_t, int32_t) {
    ResultInt(base, static_cast<int32_t>(TSelfView(base).text().size()));
}

void WideLength(TValue* base, int32_t, int32_t) {
    ResultInt(base, static_cast<int32_t>(SjisCharCount(TSelfView(base).text())));
}

void CharAt(TValue* base, int32_t count, int32_t) {
    if (count < 1) return;
    std::string text = SelfText(base);
    int32_t pos = ArgInt(Arg(base, 1));
    if (pos >= 0 && pos < static_cast<int32_t>(text.size()))
        ResultInt(base, static_cast<unsigned char>(text[pos]));
}

// The pieces go to the script side through the host's scratch globals, and the Array object is made by
// a snippet, so that the Array class's own constructor and _setBody decide what an array is.
void Split(TValue* base, int32_t count, int32_t) {
    std::string separator = ",";
    if (count > 0 && Arg(base, 1).tag != vtNull) {
        separator = ArgText(Arg(base, 1));
        if (separator.empty()) separator = ",";
        // Every symbol is escaped, not only the first: "||" or ".." must split at themselves.
        TBRegExp re;
        re.Subst("s/\\W/\\\\$&/g", separator);
    }
    int limit = count >= 2 ? ArgInt(Arg(base, 2)) : 0;
    TBRegExp re;
    re.Split("/" + separator + "/", SelfText(base), limit);

    auto list = std::make_unique<TElementList>();
    for (int i = 0; i < re.Count(); ++i) {
        TValue s = TValue::Null();
        SetObject(s, MakeString(re.Strings(i)));
        list->Add(s);
        ReleaseValue(s);
    }
    TValue host = TValue::Null();
    SetHost(host, list.get());
    SetGlobal("$_1", host);
    Eval("$_2=new Array();$_2._setBody($_1);", true);
    // Whether the array took the list is read from the array itself, so a snippet that failed half-way
    // neither leaks the list nor frees it under the array.
    TValue* result = GlobalCell("$_2");
    TInstance* array = result ? ArgObject(*result) : nullptr;
    TValue* body = array ? MemberCell(array, SymbolOf("_x")) : nullptr;
    if (!body || HostAs<TElementList>(*body) != list.get()) return;
    list.release();
    ResultCopy(base, result);
}

const TNativeEntry kStringNatives[] = {
    {"_free_body", FreeBody},
    {"native_init", Init},
    {"native_strcat", Strcat},
    {"native_substring", ByteSubstring},
    {"_n_wsubstring", WideSubstring},
    {"native_length", Length},
    {"_n_wlength", WideLength},
    {"native_charAt", CharAt},
    {"_n_split", Split},
};

} // namespace

std::span<const TNativeEntry> StringNatives() {
    return kStringNatives;
}

} // namespace plimo
