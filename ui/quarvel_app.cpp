#include "ui/quarvel_app.h"

#include "quarvel/version.h"
#include "ui/main_frame.h"

#include <QIcon>

// The resources live in a static library, whose initialiser the linker would
// otherwise drop: register them explicitly (at global scope, as the macro
// declares the initialiser in the enclosing namespace).
static void RegisterResources() {
    Q_INIT_RESOURCE(quarvel);
}

CQuarvelApp::CQuarvelApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("Hollin"));
    setApplicationName(QStringLiteral("Quarvel"));
    setApplicationVersion(QString::fromLatin1(quarvel::kVersion));
    // Wayland shells find the window's icon and name through its desktop entry.
    setDesktopFileName(QStringLiteral(QUARVEL_APP_ID));
    RegisterResources();
    setWindowIcon(QIcon(QStringLiteral(":/quarvel.png")));
}

// The frame goes before the toolkit: it saves its placement and the form's
// options, then closes the instrument connection.
CQuarvelApp::~CQuarvelApp() {
    m_mainFrame.reset();
}

bool CQuarvelApp::InitInstance() {
    m_mainFrame = std::make_unique<CMainFrame>();
    m_mainFrame->show();
    return true;
}
