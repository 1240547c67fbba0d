#include "handoff/snippet.h"

#include "handoff/secretredaction.h"
#include "handoff/unicodetext.h"

namespace loomwatch::handoff {

namespace {

// Collapses white space and trims the front while copying, a bounded amount at a time, so that a
// megabyte of text costs no more than the excerpt needs. Trailing white space is never emitted:
// a collapsed run only becomes a space when something follows it.
class CollapsingReader
{
public:
    explicit CollapsingReader(std::string_view text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    const std::string& output() const { return m_out; }

    void readUntil(std::size_t outputBytes)
    {
        while (m_pos < m_text.size() && m_out.size() < outputBytes) {
            if (const std::size_t n = whiteSpaceLength(m_text, m_pos)) {
                m_pos += n;
                m_pendingSpace = !m_out.empty();
                continue;
            }
            if (m_pendingSpace) {
                m_out += ' ';
                m_pendingSpace = false;
            }
            // Whole code points only, so that the last character read is never cut.
            m_out += m_text[m_pos++];
            while (m_pos < m_text.size() && (static_cast<unsigned char>(m_text[m_pos]) & 0xC0) == 0x80)
                m_out += m_text[m_pos++];
        }
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::string m_out;
    bool m_pendingSpace = false;
};

} // namespace

std::string makeSnippet(std::string_view text, std::size_t maxCharacters)
{
    const std::string redacted = redactSecrets(text);
    CollapsingReader reader(redacted);
    std::size_t budget = maxCharacters * 4 + 16;
    while (true) {
        reader.readUntil(budget);
        std::string prefix = prefixCharacters(reader.output(), maxCharacters);
        // A prefix shorter than what was read is final: the character after it is already known.
        if (reader.atEnd() || prefix.size() < reader.output().size())
            return prefix;
        budget *= 2;
    }
}

} // namespace loomwatch::handoff
