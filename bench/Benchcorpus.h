// The generated corpus shared by the file benchmarks: about 200 MB of text
// in a few hundred files of mixed sizes, in a temporary directory.
#ifndef QUORVEX_BENCH_BENCHCORPUS_H
#define QUORVEX_BENCH_BENCHCORPUS_H

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

inline std::string root;          // temporary directory of this run
inline std::string corpus;        // root/corpus: the generated files
inline std::string doubleCorpus;  // root/double: every file twice (hard links)
inline std::vector<std::string> corpusFiles;
inline std::size_t corpusBytes = 0, largestFile = 0;
inline int iterations = 3;

// ---- Corpus ----------------------------------------------------------------

std::vector<std::string> MakeVocabulary(std::mt19937& random)
{
    std::vector<std::string> words = {
        "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on",
        "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they",
        "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when",
        "will", "would", "who", "so", "no", "people", "time", "house", "water", "letter", "street", "morning",
        "question", "evening", "window", "garden", "matter", "country", "friend", "account", "moment"};
    const char* syllables[] = {"ka", "lo", "mer", "sin", "tor", "ve", "dra", "pel", "qui", "nos", "ba", "ret",
                               "il", "ung", "cha", "do", "fen", "gri", "hu", "jas", "mo", "pra", "sel", "ti"};
    while (words.size() < 4000) {
        std::string word;
        const int parts = 2 + static_cast<int>(random() % 3);
        for (int i = 0; i < parts; ++i)
            word += syllables[random() % (sizeof syllables / sizeof *syllables)];
        words.push_back(word);
    }
    return words;
}

// One file's text: lines of words drawn with a Zipf-like skew, sentences
// starting with a capital, numbers, now and then a name or a direction.
std::string MakeText(std::size_t size, const std::vector<std::string>& words, std::mt19937& random)
{
    static const char* names[] = {"Watson", "watson", "WATSON", "Holmes", "Lestrade"};
    static const char* directions[] = {"north", "south", "east", "west"};
    // Rare words for the search benchmark's expressions.
    static const char* extras[] = {"lantern", "Lantern", "LANTERN", "foo", "bar", "baz", "colour", "color",
                                   "TODO: check this", "alice@mail.example", "bob@old-host.example", "abc123",
                                   "running", "Nothing", "xyz789", "sing"};
    std::string text;
    text.reserve(size + 128);
    std::size_t lineStart = 0;
    bool sentenceStart = true;
    while (text.size() < size) {
        const unsigned r = random();
        std::string word;
        if (r % 211 == 0)
            word = extras[(r >> 8) % (sizeof extras / sizeof *extras)];
        else if (r % 97 == 0)
            word = names[(r >> 8) % 5];
        else if (r % 89 == 0)
            word = directions[(r >> 8) % 4];
        else if (r % 23 == 0)
            word = std::to_string((r >> 8) % 3000);
        else {
            // Skewed towards the first (common) words of the vocabulary.
            const double u = static_cast<double>(r >> 8) / double(1u << 24);
            word = words[static_cast<std::size_t>(std::pow(u, 3.0) * double(words.size())) % words.size()];
        }
        if (sentenceStart && !word.empty() && word[0] >= 'a' && word[0] <= 'z')
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        sentenceStart = (r % 13 == 0);
        text += word;
        if (sentenceStart)
            text += '.';
        if (text.size() - lineStart > 70) {
            text += '\n';
            lineStart = text.size();
        } else {
            text += ' ';
        }
    }
    text += '\n';
    return text;
}

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
}

void MakeCorpus(std::size_t targetBytes)
{
    char pattern[] = "/tmp/quorvex-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    root = pattern;
    corpus = root + "/corpus";
    doubleCorpus = root + "/double";
    std::mt19937 random(2024);
    const auto words = MakeVocabulary(random);

    // A few hundred files, sizes spread log-uniformly from 2 KiB to 6 MiB,
    // then scaled to the wanted total.
    const int files = 320;
    std::vector<double> sizes(files);
    double total = 0;
    for (auto& s : sizes) {
        s = std::exp(std::log(2048.0) + (std::log(6.0 * 1048576) - std::log(2048.0)) * (random() / 4294967296.0));
        total += s;
    }
    Run("mkdir -p " + corpus);
    for (int i = 0; i < files; ++i) {
        const std::size_t size = static_cast<std::size_t>(sizes[i] * double(targetBytes) / total);
        const std::string dir = corpus + "/d" + std::to_string(i % 8);
        ::mkdir(dir.c_str(), 0755);
        const std::string name = dir + "/f" + std::to_string(1000 + i) + ".txt";
        const std::string text = MakeText(size, words, random);
        std::ofstream(name, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
        corpusFiles.push_back(name);
        corpusBytes += text.size();
        largestFile = std::max(largestFile, text.size());
    }
    Run("mkdir -p " + doubleCorpus + " && cp -al " + corpus + " " + doubleCorpus + "/a && cp -al " + corpus + " " +
        doubleCorpus + "/b");
    Run("cat " + corpus + "/*/*.txt > /dev/null");  // into the page cache
}

}  // namespace

#endif
