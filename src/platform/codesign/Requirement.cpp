// Parsing and evaluating code requirements.
#include "platform/codesign/Requirement.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cctype>
#include <memory>
#include <vector>

#include "platform/codesign/Status.h"
#include "platform/crypto/Digest.h"

namespace telvo::codesign {

struct Requirement::Node {
    enum Kind { And, Or, Anchor, Identifier, FieldExists, SubjectEquals, HashEquals } kind;
    // The terms of an "and" or "or" chain, flat: a long chain costs no depth.
    std::vector<std::unique_ptr<Node>> terms;
    std::string value;  // identifier, OID, subject text or hex hash
    std::string key;    // subject key
    int position = 0;   // certificate index; negative counts from the end
};

Requirement::~Requirement() = default;

namespace {

using Node = Requirement::Node;

struct Token {
    enum Type { Word, String, Hash, Open, Close, LBracket, RBracket, Equals, End, Bad } type;
    std::string text;
};

class Lexer {
public:
    explicit Lexer(const std::string& s) : s_(s) {}
    Token next() {
        skip();
        if (i_ >= s_.size()) return {Token::End, {}};
        char c = s_[i_];
        if (c == '(') return ++i_, Token{Token::Open, "("};
        if (c == ')') return ++i_, Token{Token::Close, ")"};
        if (c == '[') return ++i_, Token{Token::LBracket, "["};
        if (c == ']') return ++i_, Token{Token::RBracket, "]"};
        if (c == '=') return ++i_, Token{Token::Equals, "="};
        if (c == '"') return quoted(Token::String);
        if (c == 'H' && i_ + 1 < s_.size() && s_[i_ + 1] == '"') return ++i_, quoted(Token::Hash);
        size_t start = i_;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' || s_[i_] == '_' ||
                                  s_[i_] == '-'))
            ++i_;
        if (i_ == start) return {Token::Bad, std::string(1, c)};
        return {Token::Word, s_.substr(start, i_ - start)};
    }

private:
    void skip() {
        for (;;) {
            while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (s_.compare(i_, 2, "/*") == 0) {
                size_t end = s_.find("*/", i_ + 2);
                i_ = end == std::string::npos ? s_.size() + 1 : end + 2;
                if (i_ > s_.size()) { bad_ = true; i_ = s_.size(); }
                continue;
            }
            break;
        }
    }
    Token quoted(Token::Type type) {
        std::string out;
        for (++i_; i_ < s_.size(); ++i_) {
            char c = s_[i_];
            if (c == '\\' && i_ + 1 < s_.size()) {
                out += s_[++i_];
            } else if (c == '"') {
                ++i_;
                return {type, out};
            } else {
                out += c;
            }
        }
        return {Token::Bad, out};
    }

public:
    bool bad_ = false;

private:
    const std::string& s_;
    size_t i_ = 0;
};

class Parser {
public:
    explicit Parser(const std::string& s) : lex_(s) { advance(); }
    std::unique_ptr<Node> parseAll(std::string& why) {
        auto n = orExpr();
        if (n && tok_.type != Token::End) fail("unexpected \"" + tok_.text + "\"");
        if (lex_.bad_) fail("unterminated comment");
        why = why_;
        return why_.empty() ? std::move(n) : nullptr;
    }

private:
    void advance() { tok_ = lex_.next(); }
    std::unique_ptr<Node> fail(const std::string& why) {
        if (why_.empty()) why_ = why;
        return nullptr;
    }
    bool word(const char* w) const { return tok_.type == Token::Word && tok_.text == w; }
    bool text(std::string& out) {
        if (tok_.type != Token::String && tok_.type != Token::Word) return false;
        out = tok_.text;
        advance();
        return true;
    }
    // Appends `r` to the chain `l` of that kind, making the chain when `l` is a single term.
    std::unique_ptr<Node> chain(Node::Kind kind, std::unique_ptr<Node> l, std::unique_ptr<Node> r) {
        if (l->kind != kind || l->terms.empty()) {
            auto n = std::make_unique<Node>();
            n->kind = kind;
            n->terms.push_back(std::move(l));
            l = std::move(n);
        }
        l->terms.push_back(std::move(r));
        return l;
    }
    std::unique_ptr<Node> orExpr() {
        auto l = andExpr();
        while (l && word("or")) {
            advance();
            auto r = andExpr();
            if (!r) return nullptr;
            l = chain(Node::Or, std::move(l), std::move(r));
        }
        return l;
    }
    std::unique_ptr<Node> andExpr() {
        auto l = primary();
        while (l && word("and")) {
            advance();
            auto r = primary();
            if (!r) return nullptr;
            l = chain(Node::And, std::move(l), std::move(r));
        }
        return l;
    }
    std::unique_ptr<Node> primary() {
        if (++depth_ > 64) return fail("nested too deeply");
        struct Leave { int& d; ~Leave() { --d; } } leave{depth_};
        auto n = std::make_unique<Node>();
        if (tok_.type == Token::Open) {
            advance();
            auto inner = orExpr();
            if (!inner) return nullptr;
            if (tok_.type != Token::Close) return fail("missing \")\"");
            advance();
            return inner;
        }
        if (word("anchor")) {
            advance();
            if (!word("apple")) return fail("only \"anchor apple generic\" is supported");
            advance();
            if (!word("generic")) return fail("only \"anchor apple generic\" is supported");
            advance();
            n->kind = Node::Anchor;
            return n;
        }
        if (word("identifier")) {
            advance();
            if (tok_.type == Token::Equals) advance();
            n->kind = Node::Identifier;
            if (!text(n->value)) return fail("identifier needs a text");
            return n;
        }
        if (word("certificate") || word("cert")) {
            advance();
            if (!position(n->position)) return fail("bad certificate position");
            if (tok_.type == Token::Equals) {
                advance();
                if (tok_.type != Token::Hash || tok_.text.size() != 40) return fail("certificate hash must be H\"<40 hex digits>\"");
                n->kind = Node::HashEquals;
                for (char c : tok_.text) n->value += char(std::tolower(static_cast<unsigned char>(c)));
                if (n->value.find_first_not_of("0123456789abcdef") != std::string::npos) return fail("bad hash");
                advance();
                return n;
            }
            if (tok_.type != Token::LBracket) return fail("expected \"[\"");
            advance();
            if (tok_.type != Token::Word) return fail("expected a field");
            std::string field = tok_.text;
            advance();
            if (tok_.type != Token::RBracket) return fail("expected \"]\"");
            advance();
            if (field.rfind("field.", 0) == 0) {
                n->kind = Node::FieldExists;
                n->value = field.substr(6);
                ASN1_OBJECT* obj = OBJ_txt2obj(n->value.c_str(), 1);
                if (!obj) return fail("bad OID " + n->value);
                ASN1_OBJECT_free(obj);
                // "exists" may be left out (it is often written as a comment).
                if (word("exists")) advance();
                return n;
            }
            if (field.rfind("subject.", 0) == 0) {
                n->kind = Node::SubjectEquals;
                n->key = field.substr(8);
                if (n->key != "CN" && n->key != "O" && n->key != "OU" && n->key != "C") return fail("unsupported subject key");
                if (tok_.type != Token::Equals) return fail("expected \"=\"");
                advance();
                if (!text(n->value)) return fail("expected a text");
                return n;
            }
            return fail("unsupported certificate field " + field);
        }
        return fail(tok_.type == Token::End ? "unexpected end" : "unexpected \"" + tok_.text + "\"");
    }
    bool position(int& pos) {
        if (word("leaf")) pos = 0;
        else if (word("root") || word("anchor")) pos = -1;
        else if (tok_.type == Token::Word) {
            const std::string& t = tok_.text;
            size_t i = t[0] == '-' ? 1 : 0;
            if (i >= t.size() || t.size() > 3 || t.find_first_not_of("0123456789", i) != std::string::npos) return false;
            pos = std::stoi(t);
        } else {
            return false;
        }
        advance();
        return true;
    }

    Lexer lex_;
    Token tok_{Token::End, {}};
    std::string why_;
    int depth_ = 0;
};

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};

std::unique_ptr<X509, X509Deleter> certificateAt(const RequirementContext& c, int pos) {
    int n = int(c.chain.size());
    int index = pos < 0 ? n + pos : pos;
    if (index < 0 || index >= n) return nullptr;
    const auto& d = c.chain[size_t(index)];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(d.data());
    return std::unique_ptr<X509, X509Deleter>(d2i_X509(nullptr, &p, long(d.size())));
}

int subjectNid(const std::string& key) {
    if (key == "CN") return NID_commonName;
    if (key == "O") return NID_organizationName;
    if (key == "OU") return NID_organizationalUnitName;
    return NID_countryName;
}

bool evaluateNode(const Node& n, const RequirementContext& c) {
    switch (n.kind) {
    case Node::And:
        for (const auto& t : n.terms)
            if (!evaluateNode(*t, c)) return false;
        return true;
    case Node::Or:
        for (const auto& t : n.terms)
            if (evaluateNode(*t, c)) return true;
        return false;
    case Node::Anchor: return c.anchored && !c.chain.empty();
    case Node::Identifier: return c.identifier == n.value;
    case Node::HashEquals: {
        int n2 = int(c.chain.size());
        int index = n.position < 0 ? n2 + n.position : n.position;
        if (index < 0 || index >= n2) return false;
        return crypto::hexString(crypto::sha1(c.chain[size_t(index)])) == n.value;
    }
    case Node::FieldExists: {
        auto cert = certificateAt(c, n.position);
        if (!cert) return false;
        ASN1_OBJECT* obj = OBJ_txt2obj(n.value.c_str(), 1);
        bool found = obj && X509_get_ext_by_OBJ(cert.get(), obj, -1) >= 0;
        ASN1_OBJECT_free(obj);
        return found;
    }
    case Node::SubjectEquals: {
        auto cert = certificateAt(c, n.position);
        if (!cert) return false;
        X509_NAME* name = X509_get_subject_name(cert.get());
        // Any attribute of that kind may match (a subject can hold several).
        for (int i = X509_NAME_get_index_by_NID(name, subjectNid(n.key), -1); i >= 0;
             i = X509_NAME_get_index_by_NID(name, subjectNid(n.key), i)) {
            unsigned char* utf8 = nullptr;
            int len = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
            bool equal = len >= 0 && std::string(reinterpret_cast<char*>(utf8), size_t(len)) == n.value;
            OPENSSL_free(utf8);
            if (equal) return true;
        }
        return false;
    }
    }
    return false;
}

}  // namespace

std::shared_ptr<Requirement> Requirement::parse(const std::string& text, ErrorPtr* error) {
    Parser parser(text);
    std::string why;
    auto root = parser.parseAll(why);
    if (!root) {
        if (error) *error = makeError("CodesignErrorDomain", kStatusRequirementInvalid, "invalid requirement: " + why);
        return nullptr;
    }
    std::shared_ptr<Requirement> r(new Requirement());
    r->text_ = text;
    r->root_ = std::move(root);
    return r;
}

std::shared_ptr<Requirement> Requirement::designated(const std::string& identifier, const std::string& leafDer) {
    std::string quoted;
    for (char c : identifier) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return parse("identifier \"" + quoted + "\" and certificate leaf = H\"" +
                 crypto::hexString(crypto::sha1(leafDer)) + "\"");
}

bool Requirement::evaluate(const RequirementContext& context) const { return root_ && evaluateNode(*root_, context); }

}  // namespace telvo::codesign
