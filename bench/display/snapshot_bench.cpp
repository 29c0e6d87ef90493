// Time of one snapshot of a 720 x 480 picture: stamp, pack and JPEG file.
//   snapshot_bench [ROUNDS]
#include "control/display/CVideoPane.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    QWidget host;
    vyrdax::CVideoPane pane(720, 576, 752, 570, &host);
    std::mt19937 random(3);
    std::vector<uint8_t> y(720 * 480), u(360 * 240), v(360 * 240);
    for (std::size_t k = 0; k < y.size(); ++k)
        y[k] = static_cast<uint8_t>(k % 720 / 3 + random() % 24);
    for (std::size_t k = 0; k < u.size(); ++k) {
        u[k] = static_cast<uint8_t>(100 + random() % 50);
        v[k] = static_cast<uint8_t>(110 + random() % 40);
    }
    pane.LeftTitle()->SetTitle(" Gate-03 12/09/2026 10:20:30");
    const std::string path = "/tmp/vyr-snapshot-bench-" + std::to_string(getpid()) + ".jpg";
    double best = 1e9, total = 0;
    for (int r = 0; r < rounds; ++r) {
        pane.ShowYV12Frame(y.data(), u.data(), v.data(), 720, 480);
        const auto start = std::chrono::steady_clock::now();
        if (pane.SaveSnapshot(path) != 1) {
            std::fprintf(stderr, "snapshot_bench: snapshot failed\n");
            return 1;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ms);
        total += ms;
    }
    unlink(path.c_str());
    std::printf("snapshot 720x480: %.2f ms mean, %.2f ms best over %d\n", total / rounds, best, rounds);
    return 0;
}
