#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;

// The application: names the settings store's organisation and application,
// sets the window icon, creates the one main window and releases it before
// the toolkit goes.
class CQuarvelApp : public QApplication {
    Q_OBJECT

public:
    CQuarvelApp(int& argc, char** argv);
    ~CQuarvelApp() override;

    // Creates and shows the main window. False when it cannot be created;
    // nothing is shown then.
    bool InitInstance();
    CMainFrame* MainFrame() const { return m_mainFrame.get(); }

private:
    std::unique_ptr<CMainFrame> m_mainFrame;
};
