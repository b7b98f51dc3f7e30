// Binding procedures to declared natives, and what an unbound one does.
#include "classes/native_bridge.h"
#include "core/errors.h"
#include "natives_fixture.h"

namespace plimo::testing {
namespace {

class NativeBridge : public NativesFixture {
protected:
    // A class declaring the natives given, as the compiler builds it.
    std::unique_ptr<TRTTI> Declaring(std::initializer_list<const char*> natives) {
        auto cls = MakeClass("Decl", {}, objectClass.get());
        for (const char* n : natives)
            cls->AddMethod(std::make_unique<TNativeFunction>(cls.get(), vm.symbols().SymbolOf(n)));
        return cls;
    }
    static TNativeFunction* Native(TRTTI& cls, const char* name) {
        return static_cast<TNativeFunction*>(cls.FindMethodByName(name));
    }
};

void FortyTwo(TValue* base, std::int32_t, std::int32_t) {
    ResultInt(base, 42);
}

TEST_F(NativeBridge, BindingSetsTheDeclaredProcedure) {
    auto cls = Declaring({"answer", "other"});
    EXPECT_TRUE(BindNative(*cls, "ANSWER", FortyTwo, reporter));
    TValue cell = TValue::Null();
    Native(*cls, "answer")->proc(&cell, 0, 0);
    EXPECT_EQ(cell.asInt(), 42);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(NativeBridge, AnUnboundNativeRaisesItsError) {
    auto cls = Declaring({"later"});
    TValue cell = TValue::Null();
    try {
        Native(*cls, "later")->proc(&cell, 0, 0);
        FAIL() << "no error";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(e.text(), texts::kNativeNotBound.sjis());
    }
}

TEST_F(NativeBridge, AnUndeclaredNameIsReportedOnceAndBindingGoesOn) {
    auto cls = Declaring({"a", "c"});
    const TNativeEntry table[] = {{"a", FortyTwo}, {"b", FortyTwo}, {"c", FortyTwo}};
    BindNatives(*cls, table, reporter);
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_EQ(SjisToUtf8(reporter.messages[0]), "クラスDeclのnative関数bは未定義です");
    EXPECT_EQ(Native(*cls, "c")->proc, &FortyTwo);
}

TEST_F(NativeBridge, ResultHelpers) {
    TValue cell = TValue::Null();
    ResultString(&cell, "text");
    EXPECT_TRUE(IsStringObject(cell));
    EXPECT_EQ(ObjectOf(cell)->refCount, 1);
    TValue other = cell;
    ResultCopy(&cell, nullptr);
    EXPECT_EQ(cell.tag, vtNull);
    EXPECT_EQ(ObjectOf(other)->refCount, 0);
    ResultHost(&cell, objectClass.get());
    EXPECT_EQ(ArgHost(cell), objectClass.get());
}

} // namespace
} // namespace plimo::testing
