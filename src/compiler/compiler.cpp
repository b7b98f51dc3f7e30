#include "compiler/compiler.h"

#include "compiler/codegen.h"
#include "compiler/texts.h"
#include "core/vm.h"
#include "lang/front.h"
#include "resources/paths.h"
#include "resources/resource_system.h"

namespace plimo {

namespace {

class TSectionScope {
public:
    TSectionScope(TSectionHook* hook, int section) : m_hook(hook), m_section(section) {
        if (m_hook) m_hook->Enter(m_section);
    }
    ~TSectionScope() {
        if (m_hook) m_hook->Leave(m_section);
    }
    TSectionScope(const TSectionScope&) = delete;
    TSectionScope& operator=(const TSectionScope&) = delete;

private:
    TSectionHook* m_hook;
    int m_section;
};

} // namespace

TCompiler::TCompiler(TResourceSystem& resources, TReporter& reporter)
    : m_resources(resources), m_reporter(reporter) {
    if (TVm* vm = TVm::Current(); vm && !vm->classCompiler) {
        vm->classCompiler = this;
        m_installedIn = vm;
    }
}

TCompiler::~TCompiler() {
    if (m_installedIn && TVm::Current() == m_installedIn && m_installedIn->classCompiler == this)
        m_installedIn->classCompiler = nullptr;
}

TYup& TCompiler::Parser() {
    if (!m_yup) m_yup = NewPlimoYup(m_reporter);
    return *m_yup;
}

bool TCompiler::Compile(TRTTI& cls, std::string_view source, bool report) {
    if (!cls.src.empty()) {
        m_reporter.ReportProgress("Compiling " + RelativePath(cls.src, m_resources.baseFolder));
        if (classFiles) {
            try {
                if (classFiles->Load(cls)) {
                    cls.failed = false;
                    return false;
                }
            } catch (const std::exception&) {
                m_reporter.ReportProgress("not a valid Class File");
                // Whatever the broken file filled in goes, so the source compiles into a clean class.
                cls.Reset();
            }
        }
    }

    TParsedSource parsed;
    try {
        TSectionScope timed(sections, kLexParseSection);
        parsed = ParsePlimoSource(Parser(), source);
    } catch (const std::exception& e) {
        // The grammar component itself failed (it could not be built, or memory ran out).
        cls.failed = true;
        if (report) m_reporter.ReportError(e.what(), cls.src, 0);
        return true;
    }
    if (!parsed.tree) {
        cls.failed = true;
        if (report)
            m_reporter.ReportError(texts::kSyntaxError.sjis() + cls.src, cls.src, parsed.errorPosition);
        return true;
    }

    TContext ctx;
    ctx.root = m_resources.root.get();
    ctx.cls = &cls;
    ctx.source = source;
    ctx.options = options;
    ctx.reporter = &m_reporter;
    cls.failed = false;
    bool failed = false;
    try {
        Generate(ctx, parsed.tree->Root());
    } catch (const std::exception& e) {
        failed = true;
        cls.failed = true;
        if (report) m_reporter.ReportError(e.what(), cls.src, ctx.statementPosition);
    }
    parsed = TParsedSource();

    if (!cls.src.empty() && cls.compiled && classFiles) {
        try {
            classFiles->Save(cls);
        } catch (const std::exception&) {
            // The class file only saves time next start; the class itself compiled.
        }
    }
    return failed;
}

bool TCompiler::CompileClass(TRTTI& cls) {
    cls.Reset();
    std::string text;
    try {
        text = m_resources.ReadTextFile(cls.src);
    } catch (const EInOutError&) {
        // Already reported by the reader.
        cls.failed = true;
        return true;
    }
    return Compile(cls, text, true);
}

} // namespace plimo
