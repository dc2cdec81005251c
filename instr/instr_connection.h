#pragma once

#include "instr/instr_ll.h"
#include "instr/visa_library_choice.h"
#include "visa/visa.h"

#include <memory>
#include <string>

// The one connection to one instrument: the VISA resource manager, the
// instrument session, its identification and the driver chosen for it.
//
// States: Closed (not connected, no driver) -> Open (connected, no driver)
// -> Ready (connected, driver present).
class CInstrConnection {
public:
    CInstrConnection();
    ~CInstrConnection();
    CInstrConnection(const CInstrConnection&) = delete;
    CInstrConnection& operator=(const CInstrConnection&) = delete;

    // Passes resources to another VISA library as `choice` says (an empty
    // path: none). False when it cannot be loaded; LibraryError() says why,
    // and opening a resource meant for it fails with that reason.
    bool UseVisaLibrary(const VisaLibraryChoice& choice);
    const std::string& LibraryError() const { return m_libraryError; }
    // Opens the VISA resource named by `address` (UTF-8, at most 255 bytes used).
    bool Open(const std::string& address);
    // After a failed Open: what the user needs to know beyond "failed" (the
    // library that answered, no library named for a GPIB address, a library
    // that could not be loaded); empty when nothing.
    const std::string& OpenFailureText() const { return m_openFailure; }
    // The status of the last viOpen (VI_SUCCESS before any).
    ViStatus OpenStatus() const { return m_openStatus; }
    // "*IDN?"; stores the reply without trailing white space.
    bool QueryIdn();
    std::string GetIdn() const { return m_idn; }
    // Splits the identification and creates the matching driver; false when
    // the instrument is not recognised (the connection stays open).
    bool CreateDriver();
    void Disconnect();

    bool IsConnected() const { return m_connected; }
    CInstrLL* GetDriver() const { return m_driver.get(); }
    const std::string& GetManufacturer() const { return m_manufacturer; }
    const std::string& GetModel() const { return m_model; }
    ViSession GetResourceManager() const { return m_resourceManager; }
    ViSession GetSession() const { return m_session; }

private:
    void ExplainOpenFailure(const std::string& address, ViStatus status);

    std::unique_ptr<CInstrLL> m_driver;
    bool m_connected = false;
    ViSession m_resourceManager = 0;
    ViSession m_session = 0;
    std::string m_idn;
    VisaLibraryChoice m_library;
    std::string m_libraryError;
    std::string m_openFailure;
    ViStatus m_openStatus = VI_SUCCESS;
    std::string m_manufacturer;
    std::string m_model;
};

// What the user is told about an instrument no family takes: the warning,
// its identification, and where a definition for it goes.
std::string UnknownInstrumentText(const std::string& idn);
