#include "backend/ExplanationDecoder.h"

#include <QByteArray>
#include <benchmark/benchmark.h>

namespace {

// About 10 MB of the reply the backend streams: a chunk per token or two, blank lines between
// events, the occasional keep-alive comment and non-ASCII text.
QByteArray realisticBody(qsizetype targetBytes) {
    static const char* const words[] = {"The",       " quick",   " answer",  " is", " that",  " **Markdown**",
                                        " résumé",   " naïve",   " — ",      " 😀",  "\\n\\n", " `code`",
                                        " explains", " context", " clearly", ".",   ",",      " and"};
    QByteArray body;
    body.reserve(targetBytes + 512);
    int i = 0;
    while (body.size() < targetBytes) {
        body += R"(data: {"id":"chatcmpl-9x7Yq","object":"chat.completion.chunk","created":1718000000,)"
                R"("model":"gpt-5.2","choices":[{"index":0,"delta":{"content":")";
        body += words[i % std::size(words)];
        body += R"("},"finish_reason":null}]})";
        body += "\n\n";
        if (++i % 200 == 0)
            body += ": keep-alive\n\n";
    }
    body += "data: [DONE]\n\n";
    return body;
}

void decodeTenMegabytes(benchmark::State& state) {
    const QByteArray body = realisticBody(10'000'000);
    constexpr qsizetype readSize = 1400;
    qsizetype pieces = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
        quill::ExplanationDecoder decoder;
        for (qsizetype pos = 0; pos < body.size(); pos += readSize) {
            decoder.feed(QByteArrayView(body).sliced(pos, std::min(readSize, body.size() - pos)),
                         [&](const QString& piece) { pieces += piece.size(); });
        }
        benchmark::DoNotOptimize(pieces);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}

} // namespace

BENCHMARK(decodeTenMegabytes)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
