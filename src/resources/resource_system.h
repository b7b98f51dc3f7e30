// The process-wide state of the resource code, gathered in one owner a test can create afresh, and the
// entries that turn markup and files into resources and edit the tree by path.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/report.h"
#include "resources/resource.h"

namespace plimo {

class TSGML;
class TVm;

// What resource code needs from the script runtime, which is built on top of it. The runtime
// implements it; tests use a double. Without one, snippets do not run and nothing is marked.
class TResourceRuntime {
public:
    virtual ~TResourceRuntime() = default;
    // Compiles and runs a statement to its end; false when it failed.
    virtual bool Eval(std::string_view text, bool report) = 0;
    virtual void MarkValue(TValue& value) = 0;
    // Makes the script object standing for a resource (a BuiltInResource around it) into cell.
    virtual void MakeScriptObject(TResource& resource, TValue& cell) = 0;
};

// A file that could not be read: the read that needed it is aborted.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Everything before the last "." ("" when there is none), and everything after it.
std::string ParentPath(std::string_view path);
std::string LastName(std::string_view path);

class TResourceSystem {
public:
    // Builds the resource for one element; base is the folder relative paths resolve against.
    using TTagFactory =
        std::function<std::unique_ptr<TResource>(TResourceSystem&, const TSGML&, const std::string& base)>;

    explicit TResourceSystem(TReporter& reporter);
    ~TResourceSystem();
    TResourceSystem(const TResourceSystem&) = delete;
    TResourceSystem& operator=(const TResourceSystem&) = delete;

    // ---- reading ----
    // Every line of the file followed by CR LF. A missing file is reported (PATH + "が見つかりません")
    // and raises EInOutError.
    std::string ReadTextFile(std::string_view path);
    // The tag table; none (after a message) for a tag nobody builds.
    std::unique_ptr<TResource> ElementToResource(const TSGML& element, const std::string& base);
    std::unique_ptr<TResource> ParseResourceText(std::string_view text, const std::string& base);
    std::unique_ptr<TResource> ParseResourceText(std::string_view text) {
        return ParseResourceText(text, baseFolder);
    }
    // Reads a resource file; paths inside it are relative to its own folder.
    std::unique_ptr<TResource> LoadResourceFile(std::string_view path);
    // Tags built by other subsystems (class, generator, cpattern, module) register here; an exact,
    // case-sensitive name.
    void RegisterTag(std::string tag, TTagFactory factory) {
        m_factories[std::move(tag)] = std::move(factory);
    }
    // Tried for a tag not in the table before it is reported as unknown (custom resources).
    TTagFactory customTagFactory;
    // Builds the name and src every resource reads the same way.
    void ReadCommonAttributes(TResource& resource, const TSGML& element, const std::string& base) const;

    // ---- the tree by path, from the root ----
    TResource* Resolve(std::string_view path) { return root ? root->Resolve(path) : nullptr; }
    TResource* NewResource(std::string_view file, std::string_view path, int kind);
    TResource* AttachResource(std::string_view path, std::unique_ptr<TResource> resource);
    void DeleteResource(std::string_view path);
    // Writes the resource at path to its src through a temporary file; false (after a message) when it
    // has no file or the file cannot be written.
    bool SaveResource(std::string_view path);
    // The list live global variables are created in: usrglobal below the root, made when missing.
    TResourceList* UsrGlobal();
    // What Resolve at the root gives for a single name, without making a global that does not exist.
    TResource* FindGlobal(std::string_view globalName);
    // The class registered under a short name in the current VM's alias table, or none.
    TResource* FindClassAlias(std::string_view shortName) const;
    // Initialisation passes over a subtree until nothing is pending; raises ERuntimeError with
    // "初期化に失敗しました" or "循環参照があります".
    bool InitializeResource(TResource& resource);
    // Makes this the tree the VM's global declarations keep in step, until this system ends.
    void AttachToVm(TVm& vm);
    // True while the root is being destroyed.
    bool TearingDown() const { return m_tearingDown; }

    TReporter* reporter;
    TResourceRuntime* runtime = nullptr;
    std::unique_ptr<TResource> root;
    std::string programFolder; // folder of the executable
    std::string baseFolder;    // relative paths resolve against it; saved paths are made relative to it
    TResourceList* usrglobal = nullptr;

private:
    std::unique_ptr<TResource> buildElement(const TSGML& element, const std::string& base, int depth);
    std::map<std::string, TTagFactory, std::less<>> m_factories;
    std::vector<std::string> m_loading; // files being read, innermost last: a link back to one is a cycle
    bool m_tearingDown = false;
    TVm* m_vm = nullptr;
    std::unique_ptr<TResourceList> m_detachedGlobals;
};

} // namespace plimo
