// sound_probe FILE COUNT: plays FILE in the background COUNT times, each
// after the one before has ended, then once more to its end. The sound tests
// count what the sound libraries print while it runs. Exit status 0 when the
// last sound played, 1 when no device opened, 2 on bad arguments.
#include "platform/Audio.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        platform::PlaySoundFile(argv[1], false);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return platform::PlaySoundFile(argv[1], true) ? 0 : 1;
}
