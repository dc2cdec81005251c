#include "ui/quarvel_app.h"

int main(int argc, char** argv) {
    CQuarvelApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
