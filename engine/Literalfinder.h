// The byte search for a small set of literal texts: finds the matches of an
// expression that is plain text (or a set of plain texts) exactly as the
// engine's grep would, and the candidate places of the other search paths.
#ifndef QUORVEX_ENGINE_LITERALFINDER_H
#define QUORVEX_ENGINE_LITERALFINDER_H

#include <cstddef>
#include <locale>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Filebuffer.h"

namespace RegexEngine {

class LiteralFinder {
public:
    // The finder for a set of non-empty texts (at most maxTexts), compared
    // byte for byte or, with `icase`, as the engine compares them under
    // `locale`; null when the set is empty or too large, or the byte search
    // cannot fold that locale's cases exactly.
    static std::unique_ptr<LiteralFinder> ForTexts(const std::vector<std::string>& texts, bool icase,
                                                   const std::locale& locale);

    // The finder for an expression (the engine's normal syntax, compiled with
    // `icase` under `locale` into an expression with `markCount` marked
    // sub-expressions) whose matches are exactly those of a set of plain
    // texts, or null for any other expression.
    static std::unique_ptr<LiteralFinder> Make(const char* text, bool icase, const std::locale& locale,
                                               unsigned markCount);

    // True when matches under these match flags are those of plain text: only
    // flags about assertions, dots and empty matches (none of which can occur
    // in plain text), and the leftmost-longest rule, may be set.
    static bool FlagsAllow(unsigned flags);

    static constexpr std::size_t maxTexts = 16;
    static constexpr std::size_t none = ~std::size_t(0);

    // Walks one buffer: the leftmost occurrence of any of the texts at or
    // after a position that only grows from call to call.
    class Cursor {
    public:
        Cursor(const LiteralFinder& finder, const char* data, std::size_t size);
        // The first position >= from where a text occurs, or none; `which` is
        // the text found there (on a tie the first listed, or with `longest`
        // the longest).
        std::size_t Next(std::size_t from, std::size_t& which, bool longest = false);

    private:
        const LiteralFinder& finder_;
        const char* data_;
        std::size_t size_;
        std::size_t next_[maxTexts];
        // The joint search (several texts in one pass): its last answer, valid
        // for every `from` in [searchedFrom_, found_].
        bool joint_ = false;
        std::size_t searchedFrom_ = none;
        std::size_t found_ = none;
        std::size_t foundWhich_ = 0;
    };

    // Hands every match of the texts as an expression in [data, data + size)
    // to the sink, leftmost first and each search starting where the previous
    // match ended; at a position where several texts match, the first of them
    // listed wins, or with `longest` the longest. The offsets handed out
    // describe the whole match twice: as the match and as a capturing group
    // around the whole expression, for expressions that have one. With
    // `firstOfLine` only the first match of each line is handed out (the
    // texts must hold no line feed). Returns false when the sink asked to
    // stop.
    bool Search(const char* data, std::size_t size, MatchSink& sink, bool longest = false,
                bool firstOfLine = false) const;

    // The bytes a search compares first for one text: the positions of its
    // rarest bytes (two, or three when those two are common in text).
    struct Probes {
        std::size_t count = 0;
        std::size_t at[3] = {};
        unsigned char byte[3] = {};
    };

    std::size_t Alternatives() const { return texts_.size(); }
    const std::string& Text(std::size_t k) const { return texts_[k]; }

private:
    LiteralFinder() = default;
    // The first place >= from where `probes` agree and `check` accepts, for
    // a text of `length` bytes (candidates lie where it fits).
    template <class Check>
    std::size_t Probe(const char* data, std::size_t size, std::size_t from, std::size_t length, const Probes& probes,
                      const Check& check) const;
    // The first match of text k starting at or after `from`, or none.
    std::size_t Find(const char* data, std::size_t size, std::size_t from, std::size_t k) const;
    // The first place at or after `from` where any of the texts matches, in
    // one pass over the data for all of them (`which` as in Cursor::Next), or
    // none; only where JointSearch() holds.
    std::size_t FindAny(const char* data, std::size_t size, std::size_t from, std::size_t& which,
                        bool longest) const;
    bool JointSearch() const;
    // Finds the prefix that all texts share (see prefixLength_).
    void SharePrefix();
    bool Matches(const char* at, std::size_t k) const;
    bool Verify(const char* at, const std::string& text) const;

    std::vector<std::string> texts_;   // as they must match (bytes `| 0x20` when icase_)
    std::vector<std::string> exact_;   // icase_: each byte as the engine compares it (through key_)
    std::vector<Probes> probes_;       // per text
    std::size_t shortest_ = 0, longest_ = 0;  // the texts' lengths
    std::size_t prefixLength_ = 0;     // several texts: the length of the prefix all share (0: none, or too short)
    Probes prefixProbes_;              // ... and its probes
    bool icase_ = false;
    unsigned char key_[256] = {};      // icase: the byte the engine compares (its lower case)
};

}  // namespace RegexEngine

#endif
