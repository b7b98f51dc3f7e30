#include "resources/resource_system.h"

#include <algorithm>

#include "classes/alias.h"
#include "classes/rtti.h"
#include "core/errors.h"
#include "core/vm.h"
#include "platform/files.h"
#include "platform/text.h"
#include "resources/paths.h"
#include "resources/sgml.h"
#include "resources/values.h"

namespace plimo {

namespace texts {
inline const SysText kNotFound{"が見つかりません"};
inline const SysText kBadTagName{"は不正なタグ名です"};
inline const SysText kCannotSave{"は保存できません"};
inline const SysText kInitFailed{"初期化に失敗しました"};
inline const SysText kCircular{"循環参照があります"};
inline const SysText kNoElement{"no resource element"};
} // namespace texts

std::string ParentPath(std::string_view path) {
    std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(0, dot));
}

std::string LastName(std::string_view path) {
    std::size_t dot = path.rfind('.');
    return std::string(dot == std::string_view::npos ? path : path.substr(dot + 1));
}

namespace {

std::unique_ptr<TResource> buildParam(TResourceSystem& system, const TSGML& element,
                                      const std::string& base) {
    auto param = std::make_unique<TfParam>(&system);
    system.ReadCommonAttributes(*param, element, base);
    param->value = element.GetAttr("value");
    return param;
}

std::unique_ptr<TResource> buildGlobal(TResourceSystem& system, const TSGML& element,
                                       const std::string& base) {
    auto global = std::make_unique<TGlobalValue>(element.GetAttr("name"), &system);
    system.ReadCommonAttributes(*global, element, base);
    global->valueText = element.GetAttr("value");
    return global;
}

std::unique_ptr<TResource> buildClass(TResourceSystem& system, const TSGML& element,
                                      const std::string& base) {
    auto cls = std::make_unique<TRTTI>(element.GetAttr("name"), &system);
    system.ReadCommonAttributes(*cls, element, base);
    return cls;
}

std::unique_ptr<TResource> buildLink(TResourceSystem& system, const TSGML& element, const std::string& base) {
    return system.LoadResourceFile(ResolvePath(element.GetAttr("src"), base));
}

std::string joinLines(const TLines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace

TResourceSystem::TResourceSystem(TReporter& reporter) : reporter(&reporter) {
    RegisterTag("class", buildClass);
    RegisterTag("globalvalue", buildGlobal);
    RegisterTag("link", buildLink);
    RegisterTag("param", buildParam);
}

TResourceSystem::~TResourceSystem() {
    if (m_vm && TVm::Current() == m_vm && m_vm->resources == this) m_vm->resources = nullptr;
    m_tearingDown = true;
    root.reset();
    m_detachedGlobals.reset();
    usrglobal = nullptr;
}

void TResourceSystem::ReadCommonAttributes(TResource& resource, const TSGML& element,
                                           const std::string& base) const {
    resource.name = element.GetAttr("name");
    std::string file = element.GetAttr("src");
    if (!file.empty()) resource.src = ResolvePath(file, base);
}

// ---- reading ----

std::string TResourceSystem::ReadTextFile(std::string_view path) {
    std::string contents;
    if (!FileExists(path) || !ReadWholeFile(path, contents)) {
        std::string message = std::string(path) + texts::kNotFound.sjis();
        if (reporter) reporter->ReportMessage(message);
        throw EInOutError(message);
    }
    // Lines end at CR LF, LF or a lone CR; every line, the last included, comes back ending in CR LF.
    std::string text;
    text.reserve(contents.size() + contents.size() / 16 + 2);
    std::size_t start = 0;
    const std::size_t n = contents.size();
    while (start < n) {
        std::size_t end = start;
        while (end < n && contents[end] != '\r' && contents[end] != '\n') ++end;
        text.append(contents, start, end - start);
        text += "\r\n";
        if (end < n && contents[end] == '\r' && end + 1 < n && contents[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return text;
}

std::unique_ptr<TResource> TResourceSystem::ElementToResource(const TSGML& element, const std::string& base) {
    return buildElement(element, base, 0);
}

std::unique_ptr<TResource> TResourceSystem::buildElement(const TSGML& element, const std::string& base,
                                                         int depth) {
    const std::string& tag = element.GetTagName();
    if (tag == "resourcelist" || tag == "classlist") {
        auto list = std::make_unique<TResourceList>(this);
        ReadCommonAttributes(*list, element, base);
        if (depth >= TResourceList::kMaxDepth) return list; // deeper levels are not built
        // A self-closing list has no children list: it is an empty list.
        if (const TSGML::Children* children = element.SubItems())
            for (const auto& child : *children)
                if (auto built = buildElement(*child, base, depth + 1)) list->AddChild(std::move(built));
        return list;
    }
    if (auto it = m_factories.find(tag); it != m_factories.end()) return it->second(*this, element, base);
    if (customTagFactory)
        if (auto custom = customTagFactory(*this, element, base)) return custom;
    if (reporter) reporter->ReportMessage(tag + texts::kBadTagName.sjis());
    return nullptr;
}

std::unique_ptr<TResource> TResourceSystem::ParseResourceText(std::string_view text,
                                                              const std::string& base) {
    std::size_t pos = 0;
    std::unique_ptr<TSGML> element = TSGML::Scan(text, pos);
    if (!element) return nullptr;
    return ElementToResource(*element, base);
}

std::unique_ptr<TResource> TResourceSystem::LoadResourceFile(std::string_view given) {
    std::string path = ResolvePath(given, baseFolder);
    if (path.empty()) path = NormalizeSeparators(given);
    // A file that links back to one being read would be read forever. Paths alone miss a loop made
    // through a linked folder (sub -> .), so links nested deeper than any real project count as one too.
    constexpr std::size_t kMaxLinkDepth = 32;
    if (m_loading.size() >= kMaxLinkDepth ||
        std::any_of(m_loading.begin(), m_loading.end(),
                    [&](const std::string& f) { return SameFolder(f, path); })) {
        std::string message = path + ":" + texts::kCircular.sjis();
        if (reporter) reporter->ReportMessage(message);
        throw EInOutError(message);
    }
    std::string text = ReadTextFile(path);
    m_loading.push_back(path);
    std::unique_ptr<TResource> resource;
    try {
        resource = ParseResourceText(text, FolderOf(path));
    } catch (...) {
        m_loading.pop_back();
        throw;
    }
    m_loading.pop_back();
    if (!resource) {
        // No element at all: the file is reported like one that cannot be read.
        std::string message = path + ": " + texts::kNoElement.sjis();
        if (reporter) reporter->ReportMessage(message);
        throw EInOutError(message);
    }
    resource->src = path;
    return resource;
}

// ---- the tree by path ----

TResourceList* TResourceSystem::UsrGlobal() {
    if (usrglobal) return usrglobal;
    auto* rootList = dynamic_cast<TResourceList*>(root.get());
    if (rootList)
        if (auto* found = dynamic_cast<TResourceList*>(rootList->FindChild("usrglobal")))
            return usrglobal = found;
    auto made = std::make_unique<TResourceList>(this);
    made->name = "usrglobal";
    usrglobal = made.get();
    if (rootList) {
        rootList->AddChild(std::move(made));
    } else {
        // A root that holds no children (or none yet): the globals live beside the tree.
        m_detachedGlobals = std::move(made);
    }
    return usrglobal;
}

TResource* TResourceSystem::FindGlobal(std::string_view globalName) {
    if (!root || globalName.find('.') != std::string_view::npos) return nullptr;
    if (TResource* child = root->FindChild(globalName)) return child;
    if (TResource* cls = FindClassAlias(globalName)) return cls;
    return usrglobal || root->FindChild("usrglobal") ? UsrGlobal()->FindChild(globalName) : nullptr;
}

TResource* TResourceSystem::FindClassAlias(std::string_view shortName) const {
    TVm* vm = TVm::Current();
    if (!vm) return nullptr;
    TRTTI* cls = vm->aliases().Get(shortName);
    return cls ? static_cast<TResource*>(cls) : nullptr;
}

TResource* TResourceSystem::NewResource(std::string_view file, std::string_view path, int kind) {
    const std::string leaf = TSGML::EscapeValue(LastName(path));
    const std::string fileName = TSGML::EscapeValue(file);
    const std::string absolute = ResolvePath(file, baseFolder);
    std::string markup;
    switch (kind) {
    case 0:
        markup = "<resourcelist name=\"" + leaf + "\"></resourcelist>";
        break;
    case 1:
        markup = "<globalvalue name=\"" + leaf + "\" value=\"0\">";
        break;
    case 2:
        if (!FileExists(absolute) && CreateFolders(FolderOf(absolute)))
            WriteFileAtomic(absolute, "extends classes.lang.Object;\r\n");
        markup = "<class src=\"" + fileName + "\">";
        break;
    case 3:
        if (!FileExists(absolute) && CreateFolders(FolderOf(absolute)))
            WriteFileAtomic(absolute, "<resourcelist name=\"" + leaf + "\">\r\n</resourcelist>\r\n");
        markup = "<link src=\"" + fileName + "\">";
        break;
    default:
        return nullptr;
    }
    std::unique_ptr<TResource> made = ParseResourceText(markup);
    if (!made) return nullptr;
    made->name = LastName(path);
    made->src = absolute.empty() ? std::string(file) : absolute;
    return AttachResource(path, std::move(made));
}

TResource* TResourceSystem::AttachResource(std::string_view path, std::unique_ptr<TResource> resource) {
    if (!resource) return nullptr;
    resource->name = LastName(path);
    // Only lists keep children; given to anything else the resource is discarded.
    auto* parent = dynamic_cast<TResourceList*>(Resolve(ParentPath(path)));
    if (!parent) return nullptr;
    TResource* raw = resource.get();
    parent->AddChild(std::move(resource));
    return raw;
}

void TResourceSystem::DeleteResource(std::string_view path) {
    TResource* parent = Resolve(ParentPath(path));
    TResource* target = Resolve(path);
    if (parent && target && target != parent) parent->RemoveChild(target);
}

bool TResourceSystem::SaveResource(std::string_view path) {
    TResource* resource = Resolve(path);
    // Only a list stands for a markup file of its own; any other resource's src is its source or data
    // file, which its markup line must not overwrite.
    if (!resource || resource->src.empty() || !dynamic_cast<TResourceList*>(resource)) {
        if (reporter) reporter->ReportMessage(std::string(path) + texts::kCannotSave.sjis());
        return false;
    }
    TLines lines;
    resource->SaveTo(lines, "");
    if (WriteFileAtomic(resource->src, joinLines(lines))) return true;
    if (reporter) reporter->ReportMessage(resource->src + texts::kCannotSave.sjis());
    return false;
}

void TResourceSystem::AttachToVm(TVm& vm) {
    m_vm = &vm;
    vm.resources = this;
}

// ---- initialisation ----

bool TResourceSystem::InitializeResource(TResource& resource) {
    std::int32_t lastDone = -1;
    for (;;) {
        TInitContext context;
        resource.InitStep(context);
        if (context.failed > 0) {
            if (reporter) reporter->ReportProgress(texts::kInitFailed.sjis());
            ThrowRuntime(texts::kInitFailed.sjis());
        }
        if (context.done == lastDone) ThrowRuntime(texts::kCircular.sjis());
        if (context.pending == 0) return true;
        lastDone = context.done;
    }
}

} // namespace plimo
