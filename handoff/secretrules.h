#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace loomwatch::handoff {

// Which part of a rule's match becomes the marker.
enum class Replaced
{
    match,         // the whole match
    secretGroup,   // one capture group; the rest of the match stays for the reader
    matchAndValue, // a name with its separator (the match) and the value after it
    value,         // only the value after the match; the name stays
};

// What a secret must look like beyond its pattern. Generic rules ask for more, so that ordinary
// settings keep their values.
enum class Shape
{
    any,
    notPlainWord,     // not one word of letters that is lower case, upper case or capitalised
    lettersAndDigits, // both letters and digits, and not a UUID, a path or a URL
};

enum class NameCheck
{
    none,
    // A name ending in "pass" or "pwd" has it as a word of its own (DB_PASS, dbPass, not bypass), and is
    // not PWD or OLDPWD, the shell's working folders.
    passwordWord,
    // A word of the name (split at '_', '-', '.' and at camel case) is a credential word (key, keys, token,
    // tokens, secret, secrets, password, passwords, passwd, pwd, pass, passphrase, credential, credentials,
    // creds, auth), or its last word ends in key, token, secret, password or auth (apikey, oauth).
    credentialWord,
};

struct SecretRule
{
    std::string_view name;
    // RE2 syntax. %b% is a word boundary, or an escaped line break or tab (\n, \r, \t in a JSON string, which the
    // marker leaves in place); %ws% is one white-space character (Unicode White_Space); %sep% is what may stand
    // between a name and its value: quotes (escaped any number of times), white space and ':', '=', ':=' or '=>'.
    std::string_view pattern;
    Replaced replaced;
    int secretGroup;       // the group replaced under Replaced::secretGroup
    int nameGroup;         // the group holding the name that NameCheck looks at; 0 for none
    std::size_t minLength; // of the replaced secret, in characters (for a pair: of its value)
    Shape shape;
    NameCheck nameCheck;
    // Values that only refer to a secret kept elsewhere stay: $VAR, ${VAR}, %VAR%, <placeholder>.
    bool skipsPlaceholders;
    std::string_view kept; // what the reader still sees around the marker
};

// Every rule that runs on text, in no particular order: the parts that any of them replaces are merged, so
// overlapping matches become one marker. Private-key blocks are handled before these (keyblocks.h).
std::span<const SecretRule> secretRules();

// What the shape checks need to know of the whole secret. The redaction works it out once for a run of value
// characters that several names may share (key=key=key=...), so that each check reads a bounded part.
struct SecretFacts
{
    bool hasLetter = false; // ASCII
    bool hasDigit = false;
};
SecretFacts factsOf(std::string_view secret);

// Whether a match of `rule` is a secret, given its name (empty when the rule has no name group), the part that
// would be replaced (for a pair: its value) and that part's facts. Reads a bounded prefix of `secret`, and
// beyond that only up to its first character that ends a name or a word.
bool isSecret(const SecretRule& rule, std::string_view name, std::string_view secret, const SecretFacts& facts);

} // namespace loomwatch::handoff
