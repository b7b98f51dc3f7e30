// The natives of Object and Array, called as the interpreter calls them.
#include <cmath>

#include "classes/core_natives.h"
#include "core/errors.h"
#include "natives_fixture.h"

namespace plimo::testing {
namespace {

class CoreNatives : public NativesFixture {
protected:
    TValue O(const std::string& name, TValue self, std::vector<TValue> args = {}) {
        return Call(ObjectNatives(), name, self, std::move(args));
    }
    TValue A(const std::string& name, std::vector<TValue> args) {
        return Call(ArrayNatives(), name, TValue::Null(), std::move(args));
    }
    static void ExpectFloat(const TValue& v, float x) {
        ASSERT_EQ(v.tag, vtFloat);
        EXPECT_FLOAT_EQ(v.asFloat(), x);
    }
    static void ExpectInt(const TValue& v, std::int32_t n) {
        ASSERT_EQ(v.tag, vtInt);
        EXPECT_EQ(v.asInt(), n);
    }
    std::string Text(TValue v) {
        std::string t = ValueToText(v);
        ReleaseValue(v);
        return t;
    }
};

TEST_F(CoreNatives, PrintGoesToTheOutputHookAndTheProgressLine) {
    TValue s = Str("hello");
    TValue r = O("print", TValue::Null(), {s});
    ReleaseValue(s);
    EXPECT_EQ(r.tag, vtNull);
    EXPECT_EQ(printed, std::vector<std::string>{"hello"});
    ASSERT_FALSE(reporter.progress.empty());
    EXPECT_EQ(reporter.progress.back(), "hello");
    O("print", TValue::Null(), {F(2.5f)});
    EXPECT_EQ(printed.back(), "2.5");
}

TEST_F(CoreNatives, TooFewArgumentsLeaveTheReceiver) {
    for (const char* name :
         {"sin", "cos", "sqrt", "trunc", "floor", "angle", "dist", "getGlobal", "setGlobal", "isInt",
          "_n_getValueName", "_n_setValueByIndex", "setMapPat", "TObject"}) {
        TValue r = O(name, I(77));
        EXPECT_EQ(r.tag, vtInt) << name;
        EXPECT_EQ(r.asInt(), 77) << name;
    }
    TValue r = A("native_size", {});
    EXPECT_EQ(r.tag, vtNull);
}

TEST_F(CoreNatives, RandomNumbersFollowTheStartUpState) {
    ExpectFloat(O("rnd", TValue::Null()), 0.15517713f);
    ExpectFloat(O("rnd", TValue::Null()), 0.54592258f);
    O("_n_randomize", TValue::Null(), {I(0)});
    EXPECT_EQ(runtime.randomState, TRuntime::kRandomSeed);
    std::vector<std::int32_t> dice;
    for (int i = 0; i < 8; ++i) dice.push_back(O("rnd", TValue::Null(), {I(6)}).asInt());
    EXPECT_EQ(dice, (std::vector<std::int32_t>{0, 3, 0, 5, 0, 0, 1, 0}));
    for (std::int32_t n : {1, 0, -5}) ExpectInt(O("rnd", TValue::Null(), {I(n)}), 0);
    // Only the low 24 bits of the seed count.
    O("_n_randomize", TValue::Null(), {I(0x1000000 | 7)});
    EXPECT_EQ(runtime.randomState, TRuntime::kRandomSeed ^ 7u);
}

TEST_F(CoreNatives, RandomNumbersStayInTheirRanges) {
    // The state just below 2^30 still gives a float below 1.
    std::uint32_t inverse = 48828125u; // of the multiplier, mod 2^32, by Newton's iteration
    for (int i = 0; i < 5; ++i) inverse *= 2u - 48828125u * inverse;
    runtime.randomState = (((1u << 30) - 1) * inverse) & ((1u << 30) - 1);
    TValue r = O("rnd", TValue::Null());
    ASSERT_EQ(runtime.randomState, (1u << 30) - 1);
    EXPECT_LT(r.asFloat(), 1.0f);
    // Bounds whose bucket loop no state of the start-up sequence can end: one draw, a result below
    // the bucket count, and no hang.
    struct Case {
        std::int32_t n, buckets;
    } cases[] = {{600000000, 1}, {1073741824, 1}, {400000000, 2}};
    for (const Case& c : cases) {
        runtime.randomState = TRuntime::kRandomSeed;
        std::int32_t v = O("rnd", TValue::Null(), {I(c.n)}).asInt();
        EXPECT_GE(v, 0) << c.n;
        EXPECT_LT(v, c.buckets) << c.n;
        EXPECT_NE(runtime.randomState, TRuntime::kRandomSeed) << c.n;
    }
}

TEST_F(CoreNatives, AnglesReadTheTablesAfterNormalising) {
    struct Case {
        const char* fn;
        std::int32_t degrees;
        float expected;
    } cases[] = {{"sin", -90, -1.0f},
                 {"cos", 360, 1.0f},
                 {"sin", 30, 0.5f},
                 {"cos", -360, 1.0f},
                 {"sin", 450, 1.0f},
                 {"cos", 180, -1.0f},
                 {"sin", -2147483647 - 1, static_cast<float>(std::sin(-128 * M_PI / 180))}};
    for (const Case& c : cases) {
        TValue r = O(c.fn, TValue::Null(), {I(c.degrees)});
        ASSERT_EQ(r.tag, vtFloat) << c.fn << c.degrees;
        EXPECT_NEAR(r.asFloat(), c.expected, 1e-6) << c.fn << " " << c.degrees;
    }
    // A float argument is read as an int.
    ExpectFloat(O("sin", TValue::Null(), {F(90.9f)}), 1.0f);
}

TEST_F(CoreNatives, PseudoAngleIsExactOnAxesAndDiagonals) {
    struct Case {
        float x, y, expected;
    } cases[] = {{1, 1, 45},   {-1, 0, 180},   {0, -1, -90}, {0, 0, 0},     {2, 1, 22.5f},
                 {-1, 1, 135}, {-1, -1, -135}, {0, 1, 90},   {1, 2, 67.5f}, {1, 0, 0}};
    for (const Case& c : cases) ExpectFloat(O("angle", TValue::Null(), {F(c.x), F(c.y)}), c.expected);
    ExpectFloat(O("angle", TValue::Null(), {I(3), I(0)}), 0);
}

TEST_F(CoreNatives, NumberConversions) {
    ExpectFloat(O("dist", TValue::Null(), {I(3), I(4)}), 5);
    ExpectFloat(O("sqrt", TValue::Null(), {I(9)}), 3);
    EXPECT_EQ(O("sqrt", TValue::Null(), {I(-1)}).tag, vtNull);
    ExpectInt(O("trunc", TValue::Null(), {F(-1.5f)}), -1);
    ExpectInt(O("floor", TValue::Null(), {F(-1.5f)}), -2);
    ExpectInt(O("floor", TValue::Null(), {F(2.0f)}), 2);
    ExpectInt(O("floor", TValue::Null(), {F(2.7f)}), 2);
    ExpectInt(O("trunc", TValue::Null(), {F(1e20f)}), 2147483647);
    ExpectInt(O("isInt", TValue::Null(), {I(1)}), 1);
    ExpectInt(O("isInt", TValue::Null(), {F(1)}), 0);
    ExpectInt(O("isFloat", TValue::Null(), {F(1)}), 1);
}

TEST_F(CoreNatives, ValueOfReadsNumbersFromText) {
    struct Case {
        const char* text;
        TValueTag tag;
        float value;
    } cases[] = {{".5", vtFloat, 0.5f}, {"12", vtInt, 12}, {"-3", vtInt, -3}, {"-2.25", vtFloat, -2.25f},
                 {"1e3", vtNull, 0},    {"-", vtNull, 0},  {"", vtNull, 0},   {"1.", vtNull, 0},
                 {"abc", vtNull, 0}};
    for (const Case& c : cases) {
        TValue s = Str(c.text);
        TValue r = O("valueOf", TValue::Null(), {s});
        ReleaseValue(s);
        ASSERT_EQ(r.tag, c.tag) << c.text;
        if (c.tag == vtInt) {
            EXPECT_EQ(r.asInt(), static_cast<std::int32_t>(c.value));
        } else if (c.tag == vtFloat) {
            EXPECT_FLOAT_EQ(r.asFloat(), c.value);
        }
    }
    ExpectInt(O("valueOf", TValue::Null(), {I(3)}), 3);
    TValue big = Str("99999999999");
    EXPECT_THROW(O("valueOf", TValue::Null(), {big}), ERuntimeError);
    ReleaseValue(big);
}

TEST_F(CoreNatives, ReflectionOnMembers) {
    auto point = MakeClass("Point", {"x", "y"}, objectClass.get());
    TValue p = Obj(point->NewInstance());
    EXPECT_EQ(Text(O("_getClassName", p)), "Point");
    ExpectInt(O("_n_getValueCount", p), 2);
    EXPECT_EQ(Text(O("_n_getValueName", p, {I(1)})), "y");
    EXPECT_EQ(O("_n_getValueName", p, {I(2)}).tag, vtNull);
    ExpectInt(O("_n_getValueIndex", p, {Str("Y")}), 1);
    ExpectInt(O("_n_getValueIndex", p, {Str("zzz_unknown")}), -1);
    O("_n_setValueByIndex", p, {I(0), I(42)});
    ExpectInt(O("_n_getValueByIndex", p, {I(0)}), 42);
    // Outside the members: no write, null read.
    O("_n_setValueByIndex", p, {I(5), I(1)});
    EXPECT_EQ(O("_n_getValueByIndex", p, {I(-1)}).tag, vtNull);
    O("_n_clearAllValues", p);
    ExpectInt(O("_n_getValueByIndex", p, {I(1)}), 0);

    TValue classValue = *point->VariableSlot();
    ExpectInt(O("native_is", p, {classValue}), 1);
    ExpectInt(O("native_is", p, {*objectClass->VariableSlot()}), 1);
    ExpectInt(O("native_is", p, {*stringClass->VariableSlot()}), 0);
    ExpectInt(O("native_is", I(1), {classValue}), 0);
    ReleaseValue(p);
}

TEST_F(CoreNatives, HandlesAndReferenceCounts) {
    auto cls = MakeClass("Thing", {"a"}, objectClass.get());
    TValue t = Obj(cls->NewInstance());
    TValue h = O("_n_objhandle", TValue::Null(), {t});
    ASSERT_EQ(h.tag, vtInt);
    EXPECT_EQ(static_cast<std::uint32_t>(h.asInt()), t.bits);
    // The test holds one reference; the argument cell held another during the call only.
    ExpectInt(O("_n_refcount", TValue::Null(), {h}), 1);
    ExpectInt(O("_n_objhandle", TValue::Null(), {I(5)}), 0);
    // Numbers that are no block are refused without reading anything.
    for (std::int32_t bogus : {0, 3, 12345677, -8})
        EXPECT_EQ(O("_n_refcount", TValue::Null(), {I(bogus)}).tag, vtNull) << bogus;
    ReleaseValue(t);
    ExpectInt(O("_n_refcount", TValue::Null(), {h}), 0);

    // TObject turns a host id back into a host value, and refuses other numbers.
    TValue cv = *cls->VariableSlot();
    TValue back = O("TObject", TValue::Null(), {I(static_cast<std::int32_t>(cv.bits))});
    EXPECT_EQ(back.tag, vtHost);
    EXPECT_EQ(back.bits, cv.bits);
    EXPECT_EQ(O("TObject", TValue::Null(), {I(999999)}).tag, vtNull);
}

TEST_F(CoreNatives, ErrorValueAndNoEffectNatives) {
    TValue e = O("_n_errorValue", I(3));
    EXPECT_EQ(e.tag, vtError);
    EXPECT_EQ(e.asInt(), 0);
    ExpectInt(O("getPageHashCode", TValue::Null()), 0);
    ExpectInt(O("getkey", TValue::Null(), {I(32)}), 0);
    ExpectInt(O("setMapPat", I(9), {I(1), I(2), I(3), I(4), I(5)}), 9);
    EXPECT_EQ(O("getTime", TValue::Null()).tag, vtInt);
}

TEST_F(CoreNatives, ArrayElementLists) {
    TValue list = A("native_init", {});
    ASSERT_EQ(list.tag, vtHost);
    ExpectFloat(A("native_size", {list}), 0.0f);
    TValue s = Str("abc");
    A("native_add", {list, I(1)});
    A("native_add", {list, s});
    A("native_add", {list, F(0.5f)});
    A("_n_insert", {list, I(0), TValue::Null()});
    ExpectFloat(A("native_size", {list}), 4.0f);
    EXPECT_EQ(ObjectOf(s)->refCount, 2);

    // indexOf compares values (a string of equal text), lightindexof identity.
    TValue same = Str("abc");
    ExpectInt(A("native_indexof", {list, same}), 2);
    ExpectInt(A("native_lightindexof", {list, same}), -1);
    ExpectInt(A("native_lightindexof", {list, s}), 2);
    ExpectInt(A("native_indexof", {list, I(7)}), -1);
    ReleaseValue(same);

    A("native_set", {list, I(1), I(5)});
    ExpectInt(A("native_get", {list, I(1)}), 5);

    // pack drops null and 0.5 (0 as an int), keeps objects and numbers that are not 0.
    A("_n_pack", {list, I(0)});
    ExpectFloat(A("native_size", {list}), 2.0f);
    ExpectInt(A("native_get", {list, I(0)}), 5);

    TValue removed = A("native_delete", {list, I(1)});
    EXPECT_EQ(removed.bits, s.bits);
    EXPECT_EQ(ObjectOf(s)->refCount, 2); // the test's own and the result's
    ReleaseValue(removed);
    ExpectFloat(A("native_size", {list}), 1.0f);

    for (auto args : std::vector<std::vector<TValue>>{{list, I(1)}, {list, I(-1)}})
        EXPECT_THROW(A("native_get", args), ERuntimeError);
    EXPECT_THROW(A("native_set", {list, I(9), I(0)}), ERuntimeError);
    EXPECT_THROW(A("_n_insert", {list, I(3), I(0)}), ERuntimeError);
    EXPECT_THROW(A("native_add", {I(4), I(0)}), ERuntimeError);

    A("native_add", {list, s});
    A("native_free", {list});
    EXPECT_EQ(ObjectOf(s)->refCount, 1);
    EXPECT_EQ(HostOf(list), nullptr);
    A("native_free", {list}); // a second free finds nothing
    ReleaseValue(s);
}

TEST_F(CoreNatives, NewInstanceWithoutTreeGivesZero) {
    ExpectInt(O("_newInstance", TValue::Null(), {Str("Point")}), 0);
    ExpectInt(O("_n_initResource", TValue::Null(), {Str("nothing.here")}), 1);
    ExpectInt(O("_n_getResource", TValue::Null(), {Str("nothing.here")}), 0);
}

} // namespace
} // namespace plimo::testing
