// The runtime error that ends a script process, and the fixed texts the value layer raises.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/text.h"

namespace plimo {

// A runtime error of the script machine. The text is CP932, exactly as the user will see it; the
// interpreter's Run catches it, reports it and ends only the process that raised it.
class ERuntimeError : public std::exception {
public:
    explicit ERuntimeError(std::string sjisText) : m_text(std::move(sjisText)) {}
    const char* what() const noexcept override { return m_text.c_str(); }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

namespace texts {
inline const SysText kNegativeRefCount{":参照カウントが負になりました"};
inline const SysText kEmptyObjectRef{":どうやってきたの？"};
inline const SysText kZeroDivide{"ゼロによる除算"};
inline const SysText kUnsetPrefix{"変数"};
inline const SysText kNativeNotBound{"native関数が実装されていません"};
inline const SysText kClassPrefix{"クラス"};
inline const SysText kNotCompiled{"はコンパイルが完了していないため、インスタンスを生成できません"};
inline const SysText kInstancesRemain{":オブジェクトがまだ残っています"};
inline const SysText kHeapExhausted{"スクリプト用メモリが不足しました"};
} // namespace texts

// Raised with the text of a fixed message.
[[noreturn]] inline void ThrowRuntime(const std::string& sjis) {
    throw ERuntimeError(sjis);
}

} // namespace plimo
