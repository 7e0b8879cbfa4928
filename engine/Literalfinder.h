// The prefilter: for an expression that is plain text, or an alternation of
// plain texts, finds its matches with a byte search (memmem) instead of the
// engine, giving exactly the matches the engine's grep would give.
#ifndef QUORVEX_ENGINE_LITERALFINDER_H
#define QUORVEX_ENGINE_LITERALFINDER_H

#include <cstddef>
#include <locale>
#include <memory>
#include <string>
#include <vector>

#include "Filebuffer.h"

namespace RegexEngine {

class LiteralFinder {
public:
    // The finder for `text` (the engine's normal syntax) compiled with `icase`
    // under `locale` into an expression with `markCount` marked
    // sub-expressions, or null when the expression is not one this finder
    // reproduces exactly. Accepted: `t`, `t1|t2|...`, `(t1|t2|...)` and
    // `(?:t1|t2|...)` where each t is non-empty plain text (characters other
    // than . [ ] { } ( ) \ * + ? | ^ $, or one of those escaped by `\`).
    static std::unique_ptr<LiteralFinder> Make(const char* text, bool icase, const std::locale& locale,
                                               unsigned markCount);

    // True when matches under these match flags are those of plain text: only
    // flags about assertions, dots and empty matches (none of which can occur
    // in plain text) may be set.
    static bool FlagsAllow(unsigned flags);

    // Hands every match in [data, data + size) to the sink, leftmost first and
    // each search starting where the previous match ended; at a position where
    // several texts match, the first of them in the expression wins. Returns
    // false when the sink asked to stop.
    bool Search(const char* data, std::size_t size, MatchSink& sink) const;

    std::size_t Alternatives() const { return texts_.size(); }

private:
    static constexpr std::size_t none = ~std::size_t(0);

    LiteralFinder() = default;
    // The first match of text k starting at or after `from`, or none.
    std::size_t Find(const char* data, std::size_t size, std::size_t from, std::size_t k) const;
    bool Verify(const char* at, const std::string& text) const;

    std::vector<std::string> texts_;   // as they must match (bytes `| 0x20` when icase_)
    std::vector<std::string> exact_;   // icase_: each byte as the engine compares it (through key_)
    bool icase_ = false;
    unsigned char key_[256] = {};      // icase: the byte the engine compares (its lower case)
};

}  // namespace RegexEngine

#endif
