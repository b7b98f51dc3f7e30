// The compiler's own messages, in one place.
#pragma once

#include "platform/text.h"

namespace plimo::texts {

inline const SysText kSyntaxError{"文法エラー:"};
inline const SysText kUndefined{"は未定義です"};
inline const SysText kNotDefined{"は定義されていません"};
inline const SysText kNotAClass{"はクラスではありません"};
inline const SysText kIsNotClass{"isの後ろがクラスでありません"};
inline const SysText kCallAsTarget{"代入式の左辺がメソッド呼び出しです"};
inline const SysText kMethodPrefix{"メソッド"};
inline const SysText kSuperMethodPrefix{"メソッドsuper."};
inline const SysText kSuperNative{"はNativeのため、呼び出せません"};
inline const SysText kSuperMemberSuffix{" : super.の後ろにはメソッド呼び出ししか記述できません"};
inline const SysText kResourceNotValue{"リソースは直接参照できません"};
inline const SysText kResourceCall{"リソースはメソッド呼び出しできません"};
inline const SysText kNoParentConstructor{"親クラスにコンストラクタがありません"};
inline const SysText kNoParentClass{"親クラスがないため、superを呼び出せません"};
inline const SysText kInvalidInteger{"' は整数値ではありません"};
inline const SysText kInvalidFloat{"' は浮動小数点数値ではありません"};
inline const SysText kNotBytecodeFunction{"はNative関数と同じ名前です"};

} // namespace plimo::texts
