// k410-sim: the unit's side of the serial line on a pseudo-terminal, for tests and demos.
// Prints the slave device as its first line, runs until SIGTERM or SIGINT (or a hang-up
// fault), then writes its report and the unit's final firmware.

#include "SimImage.h"
#include "SimOptions.h"
#include "UnitSimulator.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

namespace {

k410sim::UnitSimulator *g_unit = nullptr;

extern "C" void onSignal(int)
{
    if (g_unit)
        g_unit->requestStop();
}

int writeImages(const k410sim::SimOptions &o)
{
    const k410sim::Bytes image = o.firmwarePath.empty() ? k410sim::generateImage(o.records, o.seed)
                                                        : k410sim::readFile(o.firmwarePath);
    if (!o.writeImagePath.empty())
        k410sim::writeFile(o.writeImagePath, image);
    if (!o.writeDamagedPath.empty())
        k410sim::writeFile(o.writeDamagedPath,
                           k410sim::damageImage(image, unsigned(k410sim::backupContent(image).blocks.size() - 1)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    k410sim::SimOptions options;
    std::string error;
    if (!k410sim::parseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "k410-sim: " << error << "\n\n" << k410sim::usageText();
        return 2;
    }
    if (options.help) {
        std::cout << k410sim::usageText();
        return 0;
    }
    try {
        if (!options.writeImagePath.empty() || !options.writeDamagedPath.empty())
            return writeImages(options);

        k410sim::UnitSimulator unit(options);
        g_unit = &unit;
        struct sigaction sa{};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        std::signal(SIGPIPE, SIG_IGN);

        std::cout << unit.slavePath() << std::endl; // first line, flushed
        unit.run();
        g_unit = nullptr;
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "k410-sim: " << e.what() << '\n';
        return 1;
    }
}
