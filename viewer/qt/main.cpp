// Pelora: the desktop picture viewer.
#include "pelora_app.h"

int main(int argc, char** argv) {
    CPeloraApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    return app.exec();
}
