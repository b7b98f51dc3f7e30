// A fresh script machine, resource tree and compiler, with helpers that compile a source as a class
// and give the code of its blocks as listing text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classes/function.h"
#include "classes/rtti.h"
#include "compiler/compiler.h"
#include "compiler/listing.h"
#include "core/vm.h"
#include "platform/report.h"
#include "platform/text.h"
#include "resources/resource_system.h"

namespace plimo::testing {

// Listing lines of one block without their address column, as UTF-8, joined with "; ".
inline std::string JoinedListing(const TCompiledInfo* code) {
    if (!code) return "<none>";
    std::string out;
    for (const std::string& line : BlockListing(*code, false))
        out += (out.empty() ? "" : "; ") + SjisToUtf8(line);
    return out;
}

// One construct and its code before and after fusion (after: nullptr when fusion changes nothing).
struct ShapeCase {
    const char* statement;
    const char* before;
    const char* after;
};

class CompilerFixture : public ::testing::Test {
protected:
    CompilerFixture() { resources.root = std::make_unique<TResourceList>(&resources); }

    // A class resource under the root, not compiled.
    TRTTI& AddClass(const std::string& name) {
        auto cls = std::make_unique<TRTTI>(name, &resources);
        TRTTI& ref = *cls;
        resources.root->AddChild(std::move(cls));
        return ref;
    }

    // Adds a class and compiles the (UTF-8) source into it; `failed` holds Compile's result.
    TRTTI& CompileAs(const std::string& name, std::string_view source, bool fuse = true) {
        TRTTI& cls = AddClass(name);
        Recompile(cls, source, fuse);
        return cls;
    }
    void Recompile(TRTTI& cls, std::string_view source, bool fuse = true) {
        cls.Reset();
        compiler.options.fuse = fuse;
        failed = compiler.Compile(cls, Utf8ToSjis(source), true);
    }

    std::string Main(const TRTTI& cls) const { return JoinedListing(cls.mainCode.get()); }
    std::string Body(const TRTTI& cls, std::string_view fn) const {
        auto* f = dynamic_cast<TNormalFunction*>(cls.FindMethodByName(fn));
        return f ? JoinedListing(f->body.get()) : "<no function>";
    }

    // The body of fn without the "PushThis; Ret" that closes every body.
    std::string BodyStatements(const TRTTI& cls, std::string_view fn) const {
        std::string body = Body(cls, fn);
        for (const std::string end : {"; PushThis; Ret", "PushThis; Ret"})
            if (body.ends_with(end)) return body.substr(0, body.size() - end.size());
        return body;
    }

    // Compiles source as class T without and then with fusion and compares f's statements with the
    // case; expand fills the placeholders of the expected texts.
    template <class Expand>
    void ExpectShapes(const std::string& source, const ShapeCase& c, Expand&& expand) {
        TRTTI& cls = CompileAs("T", source, false);
        ASSERT_FALSE(failed) << ErrorText();
        EXPECT_EQ(BodyStatements(cls, "f"), expand(c.before, cls)) << c.statement;
        Recompile(cls, source, true);
        ASSERT_FALSE(failed) << ErrorText();
        EXPECT_EQ(BodyStatements(cls, "f"), expand(c.after ? c.after : c.before, cls)) << c.statement;
    }

    // The message of the last error reported, as UTF-8; "" when none was.
    std::string ErrorText() const {
        return reporter.errors.empty() ? "" : SjisToUtf8(reporter.errors.back().text);
    }

    TVm vm{std::size_t(1) << 26};
    TCapturingReporter reporter;
    TResourceSystem resources{reporter};
    TCompiler compiler{resources, reporter};
    bool failed = false;
};

} // namespace plimo::testing
