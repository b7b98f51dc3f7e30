#include "compiler/listing.h"

#include "classes/function.h"
#include "classes/rtti.h"
#include "core/compiled_info.h"

namespace plimo {

std::vector<std::string> BlockListing(const TCompiledInfo& code, bool withAddress) {
    std::vector<std::string> lines;
    ListCode(code, lines);
    if (!withAddress)
        for (std::string& line : lines)
            if (std::size_t colon = line.find(':'); colon != std::string::npos) line.erase(0, colon + 1);
    return lines;
}

namespace {

const char* KindWord(const TFunction& f) {
    if (f.IsConstructor()) return "constructor";
    if (f.IsDestructor()) return "destructor";
    if (f.IsNative()) return "native";
    return "function";
}

std::string NameList(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

void AppendBlock(std::vector<std::string>& out, const TCompiledInfo* code) {
    if (!code) {
        out.emplace_back("  (no code)");
        return;
    }
    for (std::string& line : BlockListing(*code, true)) out.push_back("  " + line);
}

} // namespace

std::vector<std::string> ClassListing(const TRTTI& cls) {
    std::vector<std::string> out;
    std::string heading = "class " + cls.name;
    if (cls.superclass) heading += " extends " + cls.superclass->name;
    out.push_back(heading);
    std::string members;
    for (std::int32_t i = 0; i < cls.memberNames.Count(); ++i)
        members += (i ? ", " : "") + std::to_string(i) + ":" + cls.memberNames.NameAt(i);
    out.push_back("members " + members);
    out.emplace_back("main:");
    AppendBlock(out, cls.mainCode.get());
    int inherited = 0;
    for (std::int32_t slot = 0; slot < cls.MethodCount(); ++slot) {
        const TFunction* f = cls.MethodAt(slot);
        if (f->owner != &cls) {
            ++inherited;
            continue;
        }
        std::string line = "slot " + std::to_string(slot) + ": " + KindWord(*f) + " " + f->GetName();
        auto* body = dynamic_cast<const TNormalFunction*>(f);
        if (!body) {
            out.push_back(line);
            continue;
        }
        out.push_back(line + "(" + NameList(body->argNames) + ")" +
                      (body->localNames.empty() ? "" : " var " + NameList(body->localNames)) + ":");
        AppendBlock(out, body->body.get());
    }
    if (inherited) {
        std::string note = "(";
        note += std::to_string(inherited);
        note += " inherited methods not listed)";
        out.push_back(std::move(note));
    }
    return out;
}

} // namespace plimo
