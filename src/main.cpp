// The main block: the application object, its title, the three windows in their fixed order,
// the message loop. The Direct3D runtime library is loaded before anything else and freed last.
#include "mainwin/IndicForm1.h"
#include "mainwin/VideoMain1.h"
#include "render/DirectXGraphics.h"
#include "results/VideoResults1.h"

#include <QApplication>
#include <memory>

int main(int argc, char** argv) {
    LoadDirect3DLibrary();
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName("Стендограф");

        // Creation order matters: the main window identifies the computer and fills the
        // store that the results window reads when it is created.
        auto videoMain = std::make_unique<TVideoMain>();
        // A later copy has only brought the running one to the front: it ends here.
        if (videoMain->SecondCopy()) {
            videoMain.reset();
            FreeDirect3DLibrary();
            return 0;
        }
        VideoMain = videoMain.get();
        auto videoResults = std::make_unique<TVideoResults>(videoMain.get());
        VideoResults = videoResults.get();
        auto indicForm = std::make_unique<TIndicForm>(videoMain.get());
        IndicForm = indicForm.get();

        videoMain->show();
        exitCode = QApplication::exec();

        IndicForm = nullptr;
        VideoResults = nullptr;
        VideoMain = nullptr;
    }
    FreeDirect3DLibrary();
    return exitCode;
}
