// The value rules: arithmetic, division and modulo, comparison, display and literal texts, unary
// operations and reference counting.
#include <cmath>
#include <limits>
#include <map>

#include "core/errors.h"
#include "core/symbols.h"
#include "core/vm_fixture.h"
#include "platform/report.h"
#include "platform/text.h"
#include "resources/resource_system.h"
#include "resources/values.h"

namespace plimo {
namespace {

using testing::VmFixture;

constexpr float kInf = std::numeric_limits<float>::infinity();

std::string Utf8Text(const TValue& v) {
    return SjisToUtf8(ValueToText(v));
}

class ValueTest : public VmFixture {};

// ---- arithmetic on numbers and "other" values ----

struct ArithCase {
    const char* what;
    TValue l;
    TArithOp op;
    TValue r;
    TValueTag tag;
    const char* text;
};

TEST_F(ValueTest, ArithmeticTable) {
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const ArithCase cases[] = {
        {"int + float", TValue::Int(1), TArithOp::Add, TValue::Float(2.5f), vtFloat, "3.5"},
        {"int + int wraps", TValue::Int(kMax), TArithOp::Add, TValue::Int(1), vtInt, "-2147483648"},
        {"int * int wraps", TValue::Int(65536), TArithOp::Mul, TValue::Int(65536), vtInt, "0"},
        {"float - int", TValue::Float(0.5f), TArithOp::Sub, TValue::Int(2), vtFloat, "-1.5"},
        {"float result is single", TValue::Int(16777217), TArithOp::Add, TValue::Float(0.0f), vtFloat,
         "16777216"},
        {"7 / 2", TValue::Int(7), TArithOp::Div, TValue::Int(2), vtFloat, "3.5"},
        {"8 / 2", TValue::Int(8), TArithOp::Div, TValue::Int(2), vtInt, "4"},
        {"-7 / 2", TValue::Int(-7), TArithOp::Div, TValue::Int(2), vtFloat, "-3.5"},
        {"float / int", TValue::Float(6.0f), TArithOp::Div, TValue::Int(2), vtFloat, "3"},
        {"min / -1 wraps", TValue::Int(kMin), TArithOp::Div, TValue::Int(-1), vtInt, "-2147483648"},
        {"float / 0 is infinite", TValue::Float(1.0f), TArithOp::Div, TValue::Int(0), vtFloat, "INF"},
        {"0.0 / 0.0 is NaN", TValue::Float(0.0f), TArithOp::Div, TValue::Float(0.0f), vtFloat, "NAN"},
        {"7 % 2.5", TValue::Int(7), TArithOp::Mod, TValue::Float(2.5f), vtInt, "1"},
        {"7.9 % 3", TValue::Float(7.9f), TArithOp::Mod, TValue::Int(3), vtInt, "1"},
        {"-7 % 3", TValue::Int(-7), TArithOp::Mod, TValue::Int(3), vtInt, "-1"},
        {"7 % -3", TValue::Int(7), TArithOp::Mod, TValue::Int(-3), vtInt, "1"},
        {"min % -1", TValue::Int(kMin), TArithOp::Mod, TValue::Int(-1), vtInt, "0"},
        {"float mod kept to 32 bits", TValue::Float(8589934592.0f), TArithOp::Mod,
         TValue::Float(8589934591.0f), vtInt, "0"},
        {"5 - null", TValue::Int(5), TArithOp::Sub, TValue::Null(), vtInt, "5"},
        {"5 + error", TValue::Int(5), TArithOp::Add, TValue::Error(1), vtInt, "5"},
        {"null - 5", TValue::Null(), TArithOp::Sub, TValue::Int(5), vtInt, "-5"},
        {"null - float", TValue::Null(), TArithOp::Sub, TValue::Float(2.5f), vtFloat, "-2.5"},
        {"null - min wraps", TValue::Null(), TArithOp::Sub, TValue::Int(kMin), vtInt, "-2147483648"},
        {"null * 5", TValue::Null(), TArithOp::Mul, TValue::Int(5), vtInt, "5"},
        {"error / 5", TValue::Error(2), TArithOp::Div, TValue::Int(5), vtInt, "5"},
        {"unset + null", TValue::Unset(0), TArithOp::Add, TValue::Null(), vtNull, "null"},
        {"error - error", TValue::Error(2), TArithOp::Sub, TValue::Error(3), vtError, "Error #3"},
    };
    for (const ArithCase& c : cases) {
        TValue l = c.l, r = c.r;
        ArithValues(c.op, l, r);
        EXPECT_EQ(l.tag, c.tag) << c.what;
        EXPECT_EQ(ValueToText(l), c.text) << c.what;
        EXPECT_EQ(r.tag, vtNull) << c.what << ": the operand is consumed";
    }
}

TEST_F(ValueTest, IntegerDivisionByZeroIsARuntimeError) {
    const std::string expected = SysText("ゼロによる除算").sjis();
    for (auto [op, r] : {std::pair{TArithOp::Div, TValue::Int(0)}, std::pair{TArithOp::Mod, TValue::Int(0)},
                         std::pair{TArithOp::Mod, TValue::Float(0.5f)}}) {
        TValue l = TValue::Int(7);
        try {
            ArithValues(op, l, r);
            ADD_FAILURE() << "no error";
        } catch (const ERuntimeError& e) {
            EXPECT_EQ(e.text(), expected);
        }
        EXPECT_EQ(ValueToText(l), "7") << "the left operand is untouched";
    }
}

// ---- arithmetic with objects ----

TEST_F(ValueTest, AddingToAStringMakesANewString) {
    TValue a = Str("a");
    TInstance* original = ObjectOf(a);

    TValue l = a, r = TValue::Int(1);
    RetainValue(l);
    ArithValues(TArithOp::Add, l, r);
    EXPECT_EQ(ValueToText(l), "a1");
    EXPECT_NE(ObjectOf(l), original);
    EXPECT_EQ(ObjectOf(l)->refCount, 1);
    EXPECT_EQ(original->refCount, 1) << "the old left value was released";
    SetNull(l);

    l = TValue::Int(1);
    r = a;
    RetainValue(r);
    ArithValues(TArithOp::Add, l, r);
    EXPECT_EQ(ValueToText(l), "1a");
    EXPECT_EQ(original->refCount, 1) << "the consumed right operand was released";
    SetNull(l);

    for (TValue right : {TValue::Null(), TValue::Unset(kSymBody)}) {
        l = a;
        RetainValue(l);
        ArithValues(TArithOp::Add, l, right);
        EXPECT_EQ(ValueToText(l), "a");
        EXPECT_NE(ObjectOf(l), original) << "string + null is still a new string";
        SetNull(l);
    }

    l = TValue::Null();
    r = a;
    RetainValue(r);
    ArithValues(TArithOp::Add, l, r);
    EXPECT_EQ(ObjectOf(l), original) << "null + string is the same string";
    EXPECT_EQ(original->refCount, 2) << "the reference moved from the operand";
    SetNull(l);

    TValue b = Str("b");
    l = a;
    RetainValue(l);
    ArithValues(TArithOp::Add, l, b);
    EXPECT_EQ(ValueToText(l), "ab");
    SetNull(l);
    ReleaseValue(a);
}

// Each kind of operand joins a string with its display text, on either side.
TEST_F(ValueTest, ConcatenationUsesEachOperandsText) {
    auto foo = MakeClass("Foo", {});
    TValue obj = Obj(foo->NewInstance());
    TValue s = Str("s");
    for (TValue other : {TValue::Int(-7), TValue::Int(std::numeric_limits<std::int32_t>::min()), TValue::Int(0),
                         TValue::Float(2.5f), TValue::Error(3), obj, s}) {
        std::string text = ValueToText(other);
        TValue l = s, r = other;
        RetainValue(l);
        RetainValue(r);
        ArithValues(TArithOp::Add, l, r);
        EXPECT_EQ(ValueToText(l), "s" + text);
        SetNull(l);
        if (other.tag == vtError) continue; // an error on the left gives way to the string itself
        l = other;
        r = s;
        RetainValue(l);
        RetainValue(r);
        ArithValues(TArithOp::Add, l, r);
        EXPECT_EQ(ValueToText(l), text + "s") << text;
        SetNull(l);
    }
    ReleaseValue(s);
    ReleaseValue(obj);
}

TEST_F(ValueTest, OtherOperationsLeaveObjectsUnchanged) {
    auto foo = MakeClass("Foo", {"x"});
    TValue obj = Obj(foo->NewInstance());
    for (TArithOp op : {TArithOp::Sub, TArithOp::Mul, TArithOp::Div, TArithOp::Mod}) {
        TValue l = obj, r = TValue::Int(1);
        RetainValue(l);
        ArithValues(op, l, r);
        EXPECT_EQ(l.bits, obj.bits);
        SetNull(l);

        l = TValue::Int(3);
        r = obj;
        RetainValue(r);
        ArithValues(op, l, r);
        EXPECT_EQ(ValueToText(l), "3");
        EXPECT_EQ(ObjectOf(obj)->refCount, 1) << "the operand not kept is released";
    }
    TValue l = obj, r = Str("x");
    RetainValue(l);
    ArithValues(TArithOp::Add, l, r);
    EXPECT_EQ(ValueToText(l), "Foo@" + std::to_string(obj.asInt()) + "x");
    SetNull(l);
    ReleaseValue(obj);
}

// ---- comparison ----

TEST_F(ValueTest, Comparisons) {
    TValue s5 = Str("5"), s5b = Str("5"), sa = Str("a"), sb = Str("b");
    auto foo = MakeClass("Foo", {});
    TValue o1 = Obj(foo->NewInstance()), o2 = Obj(foo->NewInstance());
    struct Case {
        const char* what;
        TValue l, r;
        TCompareOp op;
        bool holds;
    } cases[] = {
        {"1 == 1", TValue::Int(1), TValue::Int(1), TCompareOp::EQ, true},
        {"wrapped difference", TValue::Int(2147483647), TValue::Int(-1), TCompareOp::GT, false},
        {"int < float", TValue::Int(1), TValue::Float(2.5f), TCompareOp::LT, true},
        {"float >= int", TValue::Float(2.0f), TValue::Int(2), TCompareOp::GTE, true},
        {"int vs null", TValue::Int(0), TValue::Null(), TCompareOp::EQ, false},
        {"null vs unset", TValue::Null(), TValue::Unset(1), TCompareOp::EQ, true},
        {"null vs 0", TValue::Null(), TValue::Int(0), TCompareOp::EQ, false},
        {"equal texts", s5, s5b, TCompareOp::EQ, true},
        {"string vs int with its text", s5, TValue::Int(5), TCompareOp::EQ, true},
        {"int vs string", TValue::Int(5), s5, TCompareOp::EQ, false},
        {"different strings, one way", sa, sb, TCompareOp::GT, true},
        {"different strings, the other", sb, sa, TCompareOp::GT, true},
        {"same instance", o1, o1, TCompareOp::EQ, true},
        {"other instance", o1, o2, TCompareOp::NEQ, true},
        {"error vs itself", TValue::Error(1), TValue::Error(1), TCompareOp::EQ, false},
        {"NaN is not equal", TValue::Float(NAN), TValue::Float(NAN), TCompareOp::EQ, false},
        {"NaN is unequal", TValue::Float(NAN), TValue::Int(0), TCompareOp::NEQ, true},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareHolds(c.op, CompareValues(c.l, c.r)), c.holds) << c.what;
    for (TValue* v : {&s5, &s5b, &sa, &sb, &o1, &o2}) ReleaseValue(*v);
}

// ---- texts ----

TEST_F(ValueTest, FloatDisplayText) {
    const std::pair<float, const char*> cases[] = {
        {1.0f, "1"},
        {2.5f, "2.5"},
        {-2.5f, "-2.5"},
        {0.1f, "0.100000001490116"},
        {1e20f, "1.00000002004088E20"}, // the single nearest to 10^20 is not exactly it
        {1e-6f, "9.99999997475243E-7"},
        {0x1p70f, "1.18059162071741E21"},
        {0x1p-17f, "7.62939453125E-6"},
        {0x1p-16f, "0.0000152587890625"}, // at least 0.00001: fixed notation
        {123456789.0f, "123456792"},
        {1e15f, "999999986991104"}, // 15 digits before the point: still fixed
        {1e16f, "1.00000002725642E16"},
        {0x1p-20f, "9.5367431640625E-7"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {kInf, "INF"},
        {-kInf, "-INF"},
    };
    for (auto [x, text] : cases) EXPECT_EQ(FloatToText(x), text) << x;
}

TEST_F(ValueTest, DisplayAndLiteralTexts) {
    auto foo = MakeClass("Foo", {"x"});
    TValue obj = Obj(foo->NewInstance());
    TValue str = Str("abc");
    TValue* cell = vm.AllocCells(1);
    *cell = TValue::Int(3);
    TValue ref = MakeRef(cell);
    TfString body("zz");
    TValue host = TValue::Null();
    SetHost(host, &body);
    const std::string handle = std::to_string(obj.asInt());

    struct Case {
        TValue v;
        const char* display;
        std::string literal;
    } cases[] = {
        {TValue::Null(), "null", "null"},
        {TValue::Int(-42), "-42", "-42"},
        {TValue::Float(1.0f), "1", "1"},
        {TValue::Error(7), "Error #7", "Error #7"},
        {TValue::Unset(SymbolOf("speed")), "変数speed", ""},
        {ref, "[3]", "[3]"},
        {host, "TfString", "TfString"},
        {str, "abc", "\"abc\""},
        {obj, "", "objectFromID(" + handle + ")"},
    };
    for (const Case& c : cases) {
        if (*c.display) {
            EXPECT_EQ(Utf8Text(c.v), c.display);
        }
        EXPECT_EQ(ValueToLiteral(c.v), c.literal) << c.display;
    }
    EXPECT_EQ(ValueToText(obj), "Foo@" + handle);
    EXPECT_EQ(InstanceHandle(ObjectOf(obj)), obj.bits);

    *cell = ref; // a cell that refers to itself
    EXPECT_EQ(ValueToText(ref).substr(0, 3), "[[[");
    ReleaseValue(obj);
    ReleaseValue(str);
    vm.FreeCells(cell, 1);
}

TEST_F(ValueTest, AStringWithoutItsBodyHasAnEmptyText) {
    TValue s = Obj(stringClass->NewInstance()); // made without its constructor
    EXPECT_EQ(ValueToText(s), "");
    TValue* body = MemberCell(ObjectOf(s), kSymBody);
    ASSERT_NE(body, nullptr);
    *body = TValue::Int(12345); // not a host body at all
    EXPECT_EQ(ValueToText(s), "");
    SetHost(*body, nullptr);
    EXPECT_EQ(ValueToText(s), "");
    ReleaseValue(s);
}

TEST_F(ValueTest, StaleHostValueShowsNoType) {
    TValue host = TValue::Null();
    {
        TfString body("x");
        SetHost(host, &body);
        EXPECT_EQ(HostOf(host), &body);
    }
    EXPECT_EQ(HostOf(host), nullptr);
    EXPECT_EQ(ValueToText(host), "");
    TfString other("y"); // takes the freed slot, with another id
    EXPECT_EQ(HostOf(host), nullptr);
}

// ---- conversions and unary rules ----

TEST_F(ValueTest, TruthAndConversions) {
    TValue s = Str("");
    TfString body("b");
    TValue host = TValue::Null();
    SetHost(host, &body);
    struct Case {
        TValue v;
        bool truth;
        std::int32_t asInt;
        float asFloat;
    } cases[] = {
        {TValue::Null(), false, 0, 0.0f},
        {TValue::Int(0), false, 0, 0.0f},
        {TValue::Int(-3), true, -3, -3.0f},
        {TValue::Float(0.0f), false, 0, 0.0f},
        {TValue::Float(-2.7f), true, -2, -2.7f},
        {TValue::Float(2.7f), true, 2, 2.7f},
        {s, true, 1, 0.0f},
        {host, true, 0, 0.0f},
        {TValue::Error(5), false, 0, 0.0f},
        {TValue::Unset(1), false, 0, 0.0f},
        {MakeRef(vm.AllocCells(1)), false, 0, 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsTrue(c.v), c.truth) << ValueToText(c.v);
        EXPECT_EQ(ValueToInt(c.v), c.asInt) << ValueToText(c.v);
        EXPECT_EQ(ValueToFloat(c.v), c.asFloat) << ValueToText(c.v);
    }
    EXPECT_FALSE(IsTrue(TValue::Float(NAN)));
    EXPECT_EQ(ValueToInt(TValue::Float(NAN)), 0);
    ReleaseValue(s);
}

TEST_F(ValueTest, UnaryRules) {
    auto foo = MakeClass("Foo", {});
    auto bar = MakeClass("Bar", {}, foo.get());
    TValue obj = Obj(bar->NewInstance());

    TValue v = TValue::Int(0);
    NotValue(v);
    EXPECT_EQ(v.tag, vtInt);
    EXPECT_EQ(v.asInt(), 1);
    v = obj;
    RetainValue(v);
    NotValue(v);
    EXPECT_EQ(v.asInt(), 0);
    EXPECT_EQ(ObjectOf(obj)->refCount, 1) << "the replaced object was released";

    v = TValue::Int(std::numeric_limits<std::int32_t>::min());
    NegValue(v);
    EXPECT_EQ(v.asInt(), std::numeric_limits<std::int32_t>::min());
    v = TValue::Float(2.5f);
    NegValue(v);
    EXPECT_EQ(v.asFloat(), -2.5f);
    v = TValue::Error(3);
    NegValue(v);
    EXPECT_EQ(ValueToText(v), "Error #3");

    EXPECT_TRUE(IsInstanceOf(obj, bar.get()));
    EXPECT_TRUE(IsInstanceOf(obj, foo.get()));
    EXPECT_FALSE(IsInstanceOf(obj, stringClass.get()));
    EXPECT_FALSE(IsInstanceOf(TValue::Int(1), foo.get()));
    ReleaseValue(obj);
}

// ---- reference counting ----

TEST_F(ValueTest, ReleasingBelowZeroIsAnError) {
    auto foo = MakeClass("Foo", {"x"});
    TInstance* inst = foo->NewInstance();
    EXPECT_EQ(inst->refCount, 0) << "a new instance is not counted";
    TValue v = Obj(inst);
    EXPECT_EQ(inst->refCount, 1);
    SetInt(*MemberCell(inst, SymbolOf("x")), 9);

    TValue copy = v;
    ReleaseValue(copy);
    EXPECT_EQ(inst->refCount, 0);
    EXPECT_EQ(ValueToText(*MemberCell(inst, SymbolOf("x"))), "9") << "count 0 destroys nothing";

    try {
        ReleaseValue(copy);
        ADD_FAILURE() << "no error";
    } catch (const ERuntimeError& e) {
        EXPECT_EQ(e.text(), ValueToText(v) + SysText(":参照カウントが負になりました").sjis());
    }
    EXPECT_EQ(inst->refCount, -1);
    EXPECT_NO_THROW(ReleaseValue(copy)) << "a destroyed instance is lowered further quietly";
    EXPECT_EQ(inst->refCount, -2);

    TValue empty = TValue::Make(vtObject, 0);
    try {
        ReleaseValue(empty);
        ADD_FAILURE() << "no error";
    } catch (const ERuntimeError& e) {
        const std::string tail = SysText(":どうやってきたの？").sjis();
        EXPECT_EQ(e.text().substr(e.text().size() - tail.size()), tail);
    }
}

TEST_F(ValueTest, StoresKeepCountsExact) {
    auto foo = MakeClass("Foo", {"x"});
    TInstance* a = foo->NewInstance();
    TValue* cells = vm.AllocCells(2);
    SetObject(cells[0], a);
    AssignValue(cells[1], cells[0]);
    EXPECT_EQ(a->refCount, 2);
    AssignValue(cells[1], cells[1]);
    EXPECT_EQ(a->refCount, 2) << "self-assignment changes nothing";
    SetObject(cells[0], a);
    EXPECT_EQ(a->refCount, 2) << "storing the same object again";
    SetFloat(cells[0], 1.5f);
    SetError(cells[1], 4);
    EXPECT_EQ(a->refCount, 0);

    SetObject(cells[0], a);
    SetMemberByName(a, "X", cells[0]); // member names ignore case
    EXPECT_EQ(a->refCount, 2);
    SetMemberByName(a, "nosuchmember", TValue::Int(1));
    SetUnset(*MemberCell(a, SymbolOf("x")), SymbolOf("x"));
    SetNull(cells[0]);
    EXPECT_EQ(a->refCount, 0);
    vm.FreeCells(cells, 2);
}

TEST(GlobalNames, Pattern) {
    const std::pair<std::string, bool> cases[] = {
        {"$score", true}, {"$_tmp_1", true}, {"$", true},        {"score", false},
        {"$a-b", false},  {"$a b", false},   {"", false},        {"$\x83\x41\x83\x58", true},
        {"$\xb1", false}, {"$\xb1x", true},  {"$\x83\n", false}, {"$a\n", false},
        {"$A9_z", true},  {"x$a", false},
    };
    for (const auto& [text, ok] : cases) EXPECT_EQ(IsGlobalName(text), ok) << text;
    TVm vm(std::size_t(1) << 24); // the same through the VM's cached engine
    for (const auto& [text, ok] : cases) EXPECT_EQ(IsGlobalName(text), ok) << text;
}

TEST_F(ValueTest, DeclareGlobalKeepsUsrGlobalInStep) {
    TCapturingReporter reporter;
    TResourceSystem system(reporter);
    DeclareGlobal("$a", true); // no resource tree: nothing happens
    system.root =
        system.ParseResourceText("<resourcelist name=\"root\"><resourcelist name=\"usr\"></resourcelist>"
                                 "</resourcelist>");
    ASSERT_NE(system.root, nullptr);
    vm.resources = &system;
    TResource* usr = system.root->FindChild("usr");
    ASSERT_NE(usr, nullptr);

    DeclareGlobal("$gone", false);
    EXPECT_EQ(usr->FindChild("global"), nullptr) << "removing makes no list";
    DeclareGlobal("$score", true);
    DeclareGlobal("$SCORE", true);
    TResource* global = usr->FindChild("global");
    ASSERT_NE(global, nullptr);
    TResource* score = global->FindChild("$score");
    ASSERT_NE(score, nullptr);
    EXPECT_NE(dynamic_cast<TGlobalValue*>(score), nullptr);
    EXPECT_EQ(static_cast<TResourceList*>(global)->Count(), 1u) << "one child per name";
    DeclareGlobal("$x\" y", true);
    EXPECT_EQ(static_cast<TResourceList*>(global)->Count(), 1u);
    DeclareGlobal("$Score", false);
    EXPECT_EQ(global->FindChild("$score"), nullptr);
    vm.resources = nullptr;
}

} // namespace
} // namespace plimo

namespace plimo {
namespace {

// Random stores, arithmetic and unary operations over a set of cells; afterwards every instance's count
// must equal the number of cells holding it. Catches a retain or release missed on any road.
TEST_F(ValueTest, CountsStayExactUnderRandomOperations) {
    auto foo = MakeClass("Foo", {"a"});
    constexpr std::uint32_t kCells = 16;
    TValue* cells = vm.AllocCells(kCells);
    std::uint32_t seed = 12345;
    auto next = [&](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    auto randomValue = [&](TValue& v) {
        switch (next(6)) {
        case 0:
            SetInt(v, static_cast<std::int32_t>(next(7)) - 3);
            break;
        case 1:
            SetFloat(v, static_cast<float>(next(5)) * 0.5f);
            break;
        case 2:
            SetNull(v);
            break;
        case 3:
            SetObject(v, foo->NewInstance());
            break;
        case 4:
            SetObject(v, MakeString(std::string(1, static_cast<char>('a' + next(3)))));
            break;
        default:
            SetError(v, 1);
            break;
        }
    };
    for (int step = 0; step < 20000; ++step) {
        TValue& a = cells[next(kCells)];
        TValue& b = cells[next(kCells)];
        switch (next(5)) {
        case 0:
            randomValue(a);
            break;
        case 1:
            AssignValue(a, b);
            break;
        case 2: {
            // As the interpreter does it: both operands pushed (counted), the result stored back.
            TValue l = a, r = b;
            RetainValue(l);
            RetainValue(r);
            try {
                ArithValues(static_cast<TArithOp>(next(5)), l, r);
            } catch (const ERuntimeError&) {
                ReleaseValue(r);
            }
            AssignValue(a, l);
            ReleaseValue(l);
            break;
        }
        case 3: {
            TValue v = a;
            RetainValue(v);
            next(2) ? NotValue(v) : NegValue(v);
            AssignValue(b, v);
            ReleaseValue(v);
            break;
        }
        default: {
            // An object member holding another value.
            if (a.tag == vtObject && !IsStringObject(a)) AssignValue(ObjectOf(a)->members()[0], b);
            break;
        }
        }
    }
    std::map<std::uint32_t, std::int32_t> held;
    for (std::uint32_t i = 0; i < kCells; ++i)
        if (cells[i].tag == vtObject) ++held[cells[i].bits];
    for (TRTTI* cls : {foo.get(), stringClass.get()})
        for (TInstance* b : cls->Pool())
            if (b->refCount >= 0 && InstanceClass(b) == foo.get() && b->members()[0].tag == vtObject)
                ++held[b->members()[0].bits];
    for (TRTTI* cls : {foo.get(), stringClass.get()})
        for (TInstance* b : cls->Pool())
            if (b->refCount >= 0) {
                EXPECT_EQ(b->refCount, held[InstanceHandle(b)])
                    << ValueToText(TValue::Make(vtObject, InstanceHandle(b)));
            }
}

} // namespace
} // namespace plimo
