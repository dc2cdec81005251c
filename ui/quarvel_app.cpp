#include "ui/quarvel_app.h"

#include "ui/main_frame.h"

#include <QIcon>

CQuarvelApp::CQuarvelApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("Hollin"));
    setApplicationName(QStringLiteral("Quarvel"));
    setApplicationVersion(QStringLiteral("0.14"));
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
