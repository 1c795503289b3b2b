// How close decoded files are to their source: mp3_compare SOURCE DECODED...
// For each: the sample count against the source's, the signal-to-noise ratio overall, and that of
// the worst one-second window with sound in it (a click or a gap shows there).
#include "tests/support/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: mp3_compare SOURCE DECODED...\n");
        return 1;
    }
    return testing_support::WriteFromProgram([&] {
        const testing_support::DecodedAudio source = testing_support::DecodeAudio(argv[1]);
        const size_t window = static_cast<size_t>(source.sampleRate) * source.channels;
        for (int i = 2; i < argc; ++i) {
            const testing_support::DecodedAudio decoded = testing_support::DecodeAudio(argv[i]);
            const size_t common = std::min(source.samples.size(), decoded.samples.size());
            double signal = 0, noise = 0, worst = std::numeric_limits<double>::infinity();
            for (size_t start = 0; start < common; start += window) {
                double s = 0, n = 0;
                for (size_t k = start; k < std::min(common, start + window); ++k) {
                    const double a = source.samples[k], d = a - decoded.samples[k];
                    s += a * a;
                    n += d * d;
                }
                signal += s;
                noise += n;
                if (s > 1e6 * static_cast<double>(window)) // louder than about -30 dBFS
                    worst = std::min(worst, 10 * std::log10(s / std::max(n, 1.0)));
            }
            std::printf("%s: %zu of %zu samples, SNR %.2f dB, worst second %.2f dB\n", argv[i], decoded.Frames(),
                        source.Frames(), 10 * std::log10(signal / std::max(noise, 1.0)), worst);
        }
    });
}
