// The Shift-JIS codec: decoding and encoding Japanese text, mostly double-byte
// characters with some ASCII, as a loaded and saved file is.
#include <QByteArray>
#include <QString>
#include <cstdio>

#include "bench.h"
#include "sjis.h"

QV_BENCH(sjis_decode_encode_10MB) {
    // The code page's tables are built at the first use (when this case runs first).
    double t0 = bench::seconds();
    sjis::usualCode(U'日');
    std::printf("first use (tables): %.3f s\n", bench::seconds() - t0);

    // Every line: a comment in Japanese, with characters that have more than
    // one code and half-width katakana.
    QByteArray line;
    sjis::encode(QStringLiteral("/* 日本語のコメント ≒ ∵ Ⅰ ㈱ 纊 ｱｲｳ: 値を返す */\r\n"), line);
    QByteArray bytes;
    bytes.reserve(10 * 1024 * 1024 + line.size());
    while (bytes.size() < 10 * 1024 * 1024) bytes += line;

    double t = bench::seconds();
    const QString text = sjis::decode(bytes);
    const double decode = bench::seconds() - t;
    QByteArray back;
    t = bench::seconds();
    const bool ok = sjis::encode(text, back);
    const double encode = bench::seconds() - t;
    std::printf("%.1f MB, %lld characters: decode %.3f s, encode %.3f s, identical: %s\n",
                bytes.size() / 1048576.0, static_cast<long long>(text.size()), decode, encode,
                ok && back == bytes ? "yes" : "no");
}
