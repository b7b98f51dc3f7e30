#include "lang/front.h"

#include "lang/descriptions.h"

namespace plimo {

std::unique_ptr<TYup> NewPlimoYup(TReporter& reporter) {
    auto yup = std::make_unique<TYup>(reporter);
    yup->SetLexNode(PlimoTokenDescription());
    yup->SetGramNode(PlimoGrammarDescription());
    yup->SetOnCreateList(CreateSyntaxListHandler);
    return yup;
}

TParsedSource ParsePlimoSource(TYup& yup, std::string_view source) {
    TParsedSource r;
    r.tokens = yup.Lex(source);
    r.tokens->RemoveRule("COMM");
    r.tree = yup.Parse(*r.tokens);
    if (!r.tree) {
        r.errorPosition = r.tokens->lastMatched;
        r.tooDeep = r.tokens->nestingTooDeep;
    }
    return r;
}

} // namespace plimo
