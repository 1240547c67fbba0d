#include "handoff/secretrules.h"

#include <array>
#include <string>
#include <vector>

namespace loomwatch::handoff {

namespace {

using enum Replaced;
using enum Shape;
using enum NameCheck;

// The value of a generic pair (Replaced::matchAndValue / value) is found by the redaction itself: it runs up
// to the next white space, unescaped quote, backtick, control character or escaped line break.
constexpr std::array rules{
    // ---- Provider tokens, by their published prefixes and shapes ----
    SecretRule{"AWS access key id", R"re(%b%(?:AKIA|ASIA|ABIA|ACCA)[A-Z0-9]{16}\b)re", match, 0, 0, 0, any, none, false,
               ""},
    SecretRule{"AWS secret access key",
               R"re((?i)(?:secret_?access_?key|aws_?secret(?:_?key)?)%sep%([A-Za-z0-9/+]{40})(?:[^A-Za-z0-9/+=]|$))re",
               secretGroup, 1, 0, 0, any, none, false, "the name"},
    SecretRule{"GitHub token", R"re(%b%gh[pousr]_[A-Za-z0-9]{20,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"GitHub fine-grained token", R"re(%b%github_pat_[A-Za-z0-9_]{20,})re", match, 0, 0, 0, any, none, false,
               ""},
    SecretRule{"GitLab token",
               R"re(%b%(?:glpat|gldt|glrt|glptt|glft|glsoat|glcbt|glffct|glimt|glagent|gloas)-[A-Za-z0-9_\-]{20,})re",
               match, 0, 0, 0, any, none, false, ""},
    SecretRule{"GitLab runner registration token", R"re(%b%GR1348941[A-Za-z0-9_\-]{20,})re", match, 0, 0, 0, any, none,
               false, ""},
    SecretRule{"Slack token", R"re(%b%xox[abposre]-[A-Za-z0-9\-]{10,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"Slack app token", R"re(%b%xapp-[0-9]+-[A-Za-z0-9\-]{10,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"Slack webhook", R"re(hooks\.slack\.com/(?:services|workflows|triggers)/([A-Za-z0-9_/\-]{8,}))re",
               secretGroup, 1, 0, 0, any, none, false, "https://hooks.slack.com/services/"},
    SecretRule{"Stripe key", R"re(%b%(?:sk|rk|pk)_(?:live|test)_[A-Za-z0-9]{10,})re", match, 0, 0, 0, any, none, false,
               ""},
    SecretRule{"Stripe webhook secret", R"re(%b%whsec_[A-Za-z0-9+/=]{20,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"Google API key", R"re(%b%AIza[A-Za-z0-9_\-]{35})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"Google OAuth client secret", R"re(%b%GOCSPX-[A-Za-z0-9_\-]{20,})re", match, 0, 0, 0, any, none, false,
               ""},
    SecretRule{"Google OAuth access token", R"re(%b%ya29\.[A-Za-z0-9_\-]{20,})re", match, 0, 0, 0, any, none, false,
               ""},
    SecretRule{"OpenAI or Anthropic key", R"re(%b%sk-[A-Za-z0-9_\-]{16,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"SendGrid key", R"re(%b%SG\.[A-Za-z0-9_\-]{16,}\.[A-Za-z0-9_\-]{16,})re", match, 0, 0, 0, any, none,
               false, ""},
    SecretRule{"Twilio API key", R"re(%b%SK[0-9a-fA-F]{32}\b)re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"npm token", R"re(%b%npm_[A-Za-z0-9]{30,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"PyPI token", R"re(%b%pypi-[A-Za-z0-9_\-]{40,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"Hugging Face token", R"re(%b%hf_[A-Za-z0-9]{30,})re", match, 0, 0, 0, any, none, false, ""},
    SecretRule{"JSON Web Token", R"re(%b%eyJ[A-Za-z0-9_\-]{10,}\.[A-Za-z0-9_\-]{10,}\.[A-Za-z0-9_\-]*)re", match, 0, 0,
               0, any, none, false, ""},

    // ---- Credentials by their place ----
    // Open-ended values stop at '[': a marker that an overlapping rule put there ends them, as it would have
    // ended the secret, so that redacting twice changes nothing.
    // The value: one token (Bearer, Basic, Token, ...) or a list of name=value parameters (Digest, AWS4).
    SecretRule{"Authorization header",
               R"re((?i)%b%(?:proxy-)?authorization(?:\\*["'])?[ \t]*[:=][ \t]*(?:\\*["'])?)re"
               R"re((?:(?:bearer|basic|token|digest|bot|negotiate|ntlm|apikey|api-key|sso-key|ssws|oauth|key)re"
               R"re(|aws4-hmac-sha256)[ \t]+)?)re"
               R"re(([^\s"'\\,=\[]+(?:=+(?:\\*"[^"\\\r\n]*\\*"|[^\s"'\\,\[]*))?)re"
               R"re((?:,[ \t]*[^\s"'\\,=\[]+=+(?:\\*"[^"\\\r\n]*\\*"|[^\s"'\\,\[]*))*))re",
               secretGroup, 1, 0, 8, notPlainWord, none, true, "the header's name and scheme"},
    SecretRule{"Password in a URL", R"re((?i)%b%[a-z][a-z0-9+.\-]*:(?:\\?/){2}[^\s/?#@:"'\\]*:([^\s/"'\\\[]+)@)re",
               secretGroup, 1, 0, 1, any, none, true, "scheme, user name and host"},
    SecretRule{"Connection-string key",
               R"re((?i)%b%(?:AccountKey|SharedAccessKey|SharedAccessSignature)%ws%*=%ws%*([^;\s"'\\\[]+))re",
               secretGroup, 1, 0, 8, any, none, false, "the key's name"},
    SecretRule{"Connection-string password", R"re((?i);%ws%*(?:password|pwd)=([^;\s"'\\\[][^;\r\n"'\\]*))re",
               secretGroup, 1, 0, 1, any, none, true, "the key's name"},
    SecretRule{"Shared access signature", R"re([?&;]sig=([A-Za-z0-9%+/=]{20,}))re", secretGroup, 1, 0, 0, any, none,
               false, "the parameter's name"},
    SecretRule{"Docker or npm auth", R"re((?i)(?:\\*"auth\\*"|%b%_auth(?:Token)?|%b%_password)%sep%)re", value, 0, 0, 8,
               notPlainWord, none, true, "the name"},
    // A name that ends in a secret's word: any value of eight characters or more.
    SecretRule{"Named secret",
               R"re((?i)([A-Za-z0-9_.\-]*(?:api[_\-]?key|token|secret|pa(?:ss|ß)word|passwd|passphrase|pass|pwd)))re"
               "%sep%",
               matchAndValue, 0, 1, 8, any, passwordWord, true, ""},
    SecretRule{"Credential-like name",
               R"re((?i)([A-Za-z0-9_.\-]*(?:key|secret|token|pass|pwd|cred|auth)[A-Za-z0-9_.\-]*)%sep%)re",
               matchAndValue, 0, 1, 16, lettersAndDigits, credentialWord, true, ""},
    SecretRule{"Key after a credential word",
               R"re((?i)([A-Za-z0-9_.\-]*(?:key|secret|token|pass|pwd|cred|auth)[A-Za-z0-9_.\-]*)[ \t]+)re"
               R"re((?:\\*["'])?([A-Za-z0-9+/_=.\-]{20,}))re",
               secretGroup, 2, 1, 20, lettersAndDigits, credentialWord, false, "the name"},
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isLetter(char c)
{
    return isUpper(c) || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (lower(c) >= 'a' && lower(c) <= 'f');
}

// Whether `utf8` has at least `count` characters; reads no more than it needs.
bool hasCharacters(std::string_view utf8, std::size_t count)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size() && seen < count; ++i)
        seen += (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
    return seen >= count;
}

bool isName(std::string_view text)
{
    if (text.empty() || isDigit(text.front()))
        return false;
    for (const char c : text) {
        if (!isLetter(c) && !isDigit(c) && c != '_')
            return false;
    }
    return true;
}

// $NAME, ${NAME}, %NAME%, or <words> such as <your-token>: something that stands for a secret kept elsewhere.
bool isPlaceholder(std::string_view value)
{
    if (value.starts_with("${") && value.ends_with('}'))
        return isName(value.substr(2, value.size() - 3));
    if (value.starts_with('$'))
        return isName(value.substr(1));
    if (value.size() >= 3 && value.front() == '%' && value.back() == '%')
        return isName(value.substr(1, value.size() - 2));
    if (value.size() < 3 || value.front() != '<' || value.back() != '>')
        return false;
    for (const char c : value.substr(1, value.size() - 2)) {
        if (!isLetter(c) && !isDigit(c) && c != '_' && c != '-' && c != '.' && c != ' ')
            return false;
    }
    return true;
}

bool isPlainWord(std::string_view value)
{
    bool lowerSeen = false;
    bool upperAfterFirst = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (!isLetter(value[i]))
            return false;
        lowerSeen = lowerSeen || !isUpper(value[i]);
        upperAfterFirst = upperAfterFirst || (i > 0 && isUpper(value[i]));
    }
    return !value.empty() && (!upperAfterFirst || !lowerSeen);
}

bool isUuid(std::string_view value)
{
    if (value.size() != 36)
        return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? value[i] != '-' : !isHex(value[i]))
            return false;
    }
    return true;
}

// Starts with a URL's scheme and "://".
bool isUrl(std::string_view value)
{
    std::size_t i = 0;
    while (i < value.size() && (isLetter(value[i]) || (i > 0 && (isDigit(value[i]) || value[i] == '+' ||
                                                                 value[i] == '-' || value[i] == '.'))))
        ++i;
    return i > 0 && value.substr(i).starts_with("://");
}

bool hasShape(Shape shape, std::string_view value, const SecretFacts& facts)
{
    switch (shape) {
    case any:
        return true;
    case notPlainWord:
        return !isPlainWord(value);
    case lettersAndDigits: {
        const bool path =
            value.starts_with('/') || value.starts_with("./") || value.starts_with("../") || value.starts_with("~/");
        return facts.hasLetter && facts.hasDigit && !path && !isUrl(value) && !isUuid(value);
    }
    }
    return false;
}

// The words of a name in lower case: split at '_', '-', '.', before an upper-case letter that follows a
// lower-case letter or digit, and before the last capital of a run followed by a lower-case letter (APIKey).
std::vector<std::string> nameWords(std::string_view name)
{
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '_' || c == '-' || c == '.') {
            if (!words.back().empty())
                words.emplace_back();
            continue;
        }
        const bool camel =
            i > 0 && isUpper(c) &&
            ((!isUpper(name[i - 1]) && name[i - 1] != '_' && name[i - 1] != '-' && name[i - 1] != '.') ||
             (isUpper(name[i - 1]) && i + 1 < name.size() && isLetter(name[i + 1]) && !isUpper(name[i + 1])));
        if (camel && !words.back().empty())
            words.emplace_back();
        words.back() += lower(c);
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

bool isCredentialName(std::string_view name)
{
    static constexpr std::array<std::string_view, 16> credentialWords{
        "key",    "keys", "token", "tokens",     "secret",     "secrets",     "password", "passwords",
        "passwd", "pwd",  "pass",  "passphrase", "credential", "credentials", "creds",    "auth"};
    static constexpr std::array<std::string_view, 5> endings{"key", "token", "secret", "password", "auth"};
    const auto words = nameWords(name);
    for (const auto& word : words) {
        for (const auto w : credentialWords) {
            if (word == w)
                return true;
        }
    }
    if (words.empty())
        return false;
    for (const auto ending : endings) {
        if (words.back().ends_with(ending))
            return true;
    }
    return false;
}

bool hasPasswordWord(std::string_view name)
{
    const auto words = nameWords(name);
    if (words.empty())
        return false;
    const std::string& last = words.back();
    if (!last.ends_with("pass") && !last.ends_with("pwd"))
        return true; // token, secret, password and the rest count wherever they end a name (mytoken)
    return last == "pass" || (last == "pwd" && words.size() > 1);
}

} // namespace

std::span<const SecretRule> secretRules()
{
    return rules;
}

SecretFacts factsOf(std::string_view secret)
{
    SecretFacts facts;
    for (const char c : secret) {
        facts.hasLetter = facts.hasLetter || isLetter(c);
        facts.hasDigit = facts.hasDigit || isDigit(c);
    }
    return facts;
}

bool isSecret(const SecretRule& rule, std::string_view name, std::string_view secret, const SecretFacts& facts)
{
    switch (rule.nameCheck) {
    case none:
        break;
    case passwordWord:
        if (!hasPasswordWord(name))
            return false;
        break;
    case credentialWord:
        if (!isCredentialName(name))
            return false;
        break;
    }
    if (!hasCharacters(secret, rule.minLength) || !hasShape(rule.shape, secret, facts))
        return false;
    return !rule.skipsPlaceholders || !isPlaceholder(secret);
}

} // namespace loomwatch::handoff
