#include "lang/syntax.h"

#include <vector>

namespace plimo {

const char* GKindName(GKind kind) {
    switch (kind) {
    case GKind::Plain:
        return "Plain";
    case GKind::Err:
        return "Err";
#define PLIMO_NODE_NAME(name)                                                                                \
    case GKind::name:                                                                                        \
        return #name;
        PLIMO_SYNTAX_NODES(PLIMO_NODE_NAME)
#undef PLIMO_NODE_NAME
    }
    return "?";
}

std::unique_ptr<TResList> CreateSyntaxList(std::string_view name) {
#define PLIMO_NODE_MAP(cls)                                                                                  \
    if (name == #cls) return std::make_unique<G_##cls>();
    PLIMO_SYNTAX_NODES(PLIMO_NODE_MAP)
#undef PLIMO_NODE_MAP
    if (name == "Comment") return std::make_unique<TResList>();
    return std::make_unique<G_Err>();
}

void CreateSyntaxListHandler(TResListGetter& p) {
    p.list = CreateSyntaxList(p.name);
}

namespace {

bool CollapsesInCompactDump(const TResultList& list) {
    const auto* node = dynamic_cast<const TResList*>(&list);
    if (!node) return false;
    switch (node->Kind()) {
    case GKind::Expr:
    case GKind::RVal:
    case GKind::OrEx:
    case GKind::AndEx:
    case GKind::IsEx:
    case GKind::CompEx:
    case GKind::ASEx:
    case GKind::MDEx:
    case GKind::IncEx:
    case GKind::Const:
    case GKind::LVal:
    case GKind::LValE:
    case GKind::ResourceVal:
        return true;
    default:
        return false;
    }
}

bool IsEmptyGroup(const TResultItem& item) {
    const TResultList* l = item.List();
    return l && l->Empty() && l->RuleName().empty();
}

// Walks with an explicit stack: dumps are used on deliberately deep trees in tests.
class TDumper {
public:
    explicit TDumper(bool compact) : m_compact(compact) {}

    std::string Run(const TResultList& root) {
        Push(TResultItem(const_cast<TResultList*>(&root)));
        while (!m_stack.empty()) {
            Frame& f = m_stack.back();
            if (f.next >= f.list->Count()) {
                if (f.open) m_out += f.close;
                m_stack.pop_back();
                continue;
            }
            const TResultItem& item = f.list->Item(f.next++);
            if (m_compact && IsEmptyGroup(item)) continue;
            if (f.written++) m_out += ' ';
            Push(item);
        }
        return std::move(m_out);
    }

private:
    struct Frame {
        const TResultList* list;
        int next;
        int written;
        bool open;
        char close;
    };

    int VisibleCount(const TResultList& l) const {
        int n = 0;
        for (const TResultItem& it : l)
            if (!(m_compact && IsEmptyGroup(it))) ++n;
        return n;
    }

    void Push(TResultItem item) {
        // Compact mode: step down chains of single-item expression nodes.
        while (m_compact && item.IsList() && CollapsesInCompactDump(*item.List()) &&
               VisibleCount(*item.List()) == 1) {
            for (const TResultItem& it : *item.List())
                if (!IsEmptyGroup(it)) {
                    item = it;
                    break;
                }
        }
        if (const TLexElem* t = item.Token()) {
            std::string_view text = t->Text();
            if (text == "(" || text == ")") m_out += '\'';
            m_out += text;
            if (text == "(" || text == ")") m_out += '\'';
            return;
        }
        const TResultList* l = item.List();
        std::string_view name = l->RuleName();
        if (name.empty()) {
            m_out += '[';
            m_stack.push_back({l, 0, 0, true, ']'});
        } else {
            m_out += name;
            m_out += '(';
            m_stack.push_back({l, 0, 0, true, ')'});
        }
    }

    bool m_compact;
    std::string m_out;
    std::vector<Frame> m_stack;
};

} // namespace

std::string DumpTree(const TResultList& list, bool compact) {
    return TDumper(compact).Run(list);
}

} // namespace plimo
