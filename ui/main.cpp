#include "ui/QuillonApp.h"

int main(int argc, char** argv) {
    CQuillonApp app(argc, argv);
    return app.Run();
}
