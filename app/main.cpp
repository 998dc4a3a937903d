// pacterra: the packet sniffer's window.
#include "app/TrawlerApp.h"

int main(int argc, char** argv) {
    CTrawlerApp app(argc, argv);
    int exitCode = 0;
    if (!app.InitInstance(&exitCode))
        return exitCode;
    return app.exec();
}
