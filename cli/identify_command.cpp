// The commands that look at the machine and the sensor: ports and identify.
#include "cli/cli.h"
#include "com232/identify.h"
#include "platform/rs232.h"

#include <cstdio>

int runPorts(const CliOptions &options) {
    const std::vector<SerialPortEntry> ports = listSerialPorts();
    if (options.json) {
        std::printf("[");
        for (size_t i = 0; i < ports.size(); ++i)
            std::printf("%s{\"number\":%d,\"device\":%s,\"description\":%s}", i ? "," : "",
                        ports[i].number, jsonString(ports[i].device).c_str(),
                        jsonString(ports[i].description).c_str());
        std::printf("]\n");
        return EXIT_OK;
    }
    if (ports.empty())
        std::printf("no serial ports found\n");
    for (const SerialPortEntry &p : ports)
        std::printf("%d: %s%s%s\n", p.number, p.device.c_str(), p.description.empty() ? "" : " - ",
                    p.description.c_str());
    return EXIT_OK;
}

int runIdentify(const CliOptions &options) {
    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    // The connection sequence leaves the firmware's own text on the status line.
    const std::string firmware = lastStatus();
    if (options.json) {
        // The gateway's info topic names the same facts with the same keys.
        std::printf("{\"device\":%s,\"sensor_type\":%u,\"board\":%u,\"firmware\":%s,"
                    "\"firmware_version\":%u,\"pixels\":%u,\"positions\":%u,\"resolution\":%u}\n",
                    jsonString(connectedDevice()).c_str(), ccdtype, pcbtype,
                    jsonString(firmware).c_str(), softversion, ccdmaxpixel, ccdsubpixel,
                    ccdresolution);
    } else {
        std::printf("device:           %s\n"
                    "sensor type:      %u\n"
                    "board:            %u\n"
                    "firmware:         %s\n"
                    "firmware version: %u\n"
                    "pixels:           %u\n"
                    "positions:        %u\n"
                    "resolution:       %u\n",
                    connectedDevice().c_str(), ccdtype, pcbtype, firmware.c_str(), softversion,
                    ccdmaxpixel, ccdsubpixel, ccdresolution);
    }
    return EXIT_OK;
}
