// The process-wide state of the resource code, gathered in one owner a test can create afresh.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/report.h"
#include "resources/resource.h"

namespace plimo {

// What resource code needs from the script runtime, which is built on top of it: running a host-built
// snippet and marking a value for the collector. The runtime implements it; tests use a double.
class TResourceRuntime {
public:
    virtual ~TResourceRuntime() = default;
    // Compiles and runs a statement to its end; false when it failed.
    virtual bool Eval(std::string_view text, bool report) = 0;
    virtual void MarkValue(TValue& value) = 0;
    // The class registered under a short name (the alias table), or none.
    virtual TResource* FindAlias(std::string_view shortName) = 0;
};

class TResourceSystem {
public:
    explicit TResourceSystem(TReporter& reporter) : reporter(&reporter) {}
    ~TResourceSystem();
    TResourceSystem(const TResourceSystem&) = delete;
    TResourceSystem& operator=(const TResourceSystem&) = delete;

    TReporter* reporter;
    TResourceRuntime* runtime = nullptr;
    std::unique_ptr<TResource> root;
    std::string programFolder; // folder of the executable
    std::string baseFolder;    // relative paths resolve against it; saved paths are made relative to it
    TResourceList* usrglobal = nullptr;
};

} // namespace plimo
