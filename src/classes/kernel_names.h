// The names of kernel classes, methods and global variables that the host relies on.
#pragma once

namespace plimo::kernel {

// Classes the host finds by path.
inline constexpr const char* kObjectClass = "classes.lang.Object";
inline constexpr const char* kStringClass = "classes.lang.String";
inline constexpr const char* kArrayClass = "classes.lang.Array";
inline constexpr const char* kProcessClass = "classes.lang.Process";
inline constexpr const char* kBootClass = "classes.lang.Boot";
inline constexpr const char* kSpriteClass = "classes.scr.Sprite";
inline constexpr const char* kCharClass = "classes.game.Char";
inline constexpr const char* kCmmlClass = "classes.lang.CMML";
inline constexpr const char* kCustomResourceClass = "classes.customres.CustomResource";

// Members the host reads directly.
inline constexpr const char* kStringBody = "_body";
inline constexpr const char* kArrayBody = "_x";

// Methods the host calls, by name.
inline constexpr const char* kErrorHook = "_errorHook";
inline constexpr const char* kGcMark = "gc_mark";
inline constexpr const char* kBootExecute = "execute";
inline constexpr const char* kBootDesign = "design";
inline constexpr const char* kArrayAdd = "add";
inline constexpr const char* kArrayClear = "clear";
inline constexpr const char* kArraySetBody = "_setBody";
inline constexpr const char* kMouseDown = "mouseDown";
inline constexpr const char* kOnDown = "onDown";
inline constexpr const char* kInspect = "inspect";
inline constexpr const char* kSetGenerator = "setGenerator";
inline constexpr const char* kOnGenerate = "onGenerate";
inline constexpr const char* kOnSaveToGen = "onSaveToGen";
inline constexpr const char* kAppear = "appear";
inline constexpr const char* kKill = "kill";
inline constexpr const char* kGetTObject = "getTObject";
inline constexpr const char* kOnInit = "onInit";
inline constexpr const char* kOnDestroy = "onDestroy";
inline constexpr const char* kGetURL = "getURL";

// Global variables the host reads or writes.
inline constexpr const char* kDesignMode = "$_design_mode";
inline constexpr const char* kProcs = "$procs";
inline constexpr const char* kChars = "$chars";
inline constexpr const char* kExecCheckPoint = "$_exec_checkPoint";
inline constexpr const char* kHashCode = "$_hashCode";
inline constexpr const char* kDoDraw = "$_doDraw";
inline constexpr const char* kBgColor = "$bgcolor";
inline constexpr const char* kSeamLessLoad = "$_seamLessLoad";
inline constexpr const char* kMouseX = "$mouseX";
inline constexpr const char* kMouseY = "$mouseY";
inline constexpr const char* kMouseSX = "$mouseSX";
inline constexpr const char* kMouseSY = "$mouseSY";
inline constexpr const char* kLeftButton = "$leftButton";
inline constexpr const char* kRightButton = "$rightButton";
inline constexpr const char* kWindowX = "$windowX";
inline constexpr const char* kWindowY = "$windowY";
inline constexpr const char* kScreenWidthWindow = "$ScreenWidth";
inline constexpr const char* kScreenHeightWindow = "$ScreenHeight";
inline constexpr const char* kMouseEvent = "$_mouse_event";
inline constexpr const char* kTmpCurSelect = "$_tmp_cur_select";
inline constexpr const char* kScreenWidthPage = "$screenWidth";
inline constexpr const char* kScreenHeightPage = "$screenHeight";
inline constexpr const char* kSoundAdded = "$_soundAdded";
inline constexpr const char* kEmChar = "$_emChar";
inline constexpr const char* kEditMode = "$_editMode";
// Prefix of the host's own scratch globals.
inline constexpr const char* kTmpPrefix = "$_tmp_";

} // namespace plimo::kernel
