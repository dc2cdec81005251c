#include "instr/instr_connection.h"

#include "instr/driver_table.h"
#include "instr/family_registry.h"
#include "instr/reply_header.h"
#include "visa/visa_internal.h"

namespace {

// Longest resource string the VISA layer is given; the 256th byte of the
// conversion buffer holds the terminator.
constexpr std::size_t MAX_ADDRESS_LENGTH = 255;
// "*IDN?" replies are read into a buffer of this size, terminator included.
constexpr std::size_t IDN_BUFFER_SIZE = 256;

std::string WithoutTrailingWhiteSpace(const char* text) {
    std::string result(text);
    const auto last = result.find_last_not_of(" \t\n\v\f\r");
    result.erase(last == std::string::npos ? 0 : last + 1);
    return result;
}

} // namespace

CInstrConnection::CInstrConnection() {
    // A missing resource manager shows up later as a failing Open.
    viOpenDefaultRM(&m_resourceManager);
}

CInstrConnection::~CInstrConnection() {
    if (m_connected) {
        viClose(m_session);
        m_connected = false;
    }
    m_driver.reset();
    viClose(m_resourceManager);
}

bool CInstrConnection::UseVisaLibrary(const VisaLibraryChoice& choice) {
    m_library = choice;
    m_libraryError.clear();
    char message[QVI_MESSAGE_BUFLEN] = {};
    const ViStatus s = qviUseVisaLibrary(
        m_resourceManager, choice.path.c_str(),
        choice.allResources ? QVI_LIBRARY_FOR_ALL : QVI_LIBRARY_FOR_OTHERS, message);
    if (s == VI_SUCCESS)
        return true;
    m_libraryError = message[0] != '\0' ? message : qviStatusName(s);
    return false;
}

bool CInstrConnection::Open(const std::string& address) {
    m_openFailure.clear();
    // A longer address, or one with a NUL inside, would name another resource
    // once cut to what the VISA layer takes; refuse it instead of opening that.
    if (address.size() > MAX_ADDRESS_LENGTH || address.find('\0') != std::string::npos)
        return false;
    // Every address was meant for a library that is not there: none is
    // opened by our own transports behind the user's back.
    if (m_library.allResources && !m_libraryError.empty()) {
        m_openStatus = VI_ERROR_LIBRARY_NFOUND;
        m_openFailure = m_libraryError;
        return false;
    }
    ViSession session = 0;
    m_openStatus = viOpen(m_resourceManager, address.c_str(), VI_NULL, 0, &session);
    if (m_openStatus < VI_SUCCESS) {
        ExplainOpenFailure(address, m_openStatus);
        return false;
    }
    m_session = session;
    viFlush(m_session, VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD);
    m_connected = true;
    return true;
}

void CInstrConnection::ExplainOpenFailure(const std::string& address, ViStatus status) {
    // A library that could not be loaded is the reason when the address was
    // meant for it: one our own transports do not take.
    ViUInt16 type = 0;
    ViUInt16 board = 0;
    const bool ours = viParseRsrc(m_resourceManager, address.c_str(), &type, &board) == VI_SUCCESS;
    if (!m_libraryError.empty() && !ours) {
        m_openFailure = m_libraryError;
        return;
    }
    char text[QVI_MESSAGE_BUFLEN] = {};
    qviOpenFailureText(m_resourceManager, address.c_str(), status, text);
    m_openFailure = text;
}

bool CInstrConnection::QueryIdn() {
    if (!m_connected)
        return false;
    if (viPrintf(m_session, "*IDN?\n") != VI_SUCCESS)
        return false;
    char reply[IDN_BUFFER_SIZE] = {};
    // Quarvel's VISA layer stores at most 256 bytes (terminator included) for
    // a "%t" without width, which is this buffer; the rest of a longer reply
    // is read and dropped, it means nothing to the program.
    if (viScanf(m_session, "%t", reply) != VI_SUCCESS)
        return false;
    // Older Siglent firmware puts its command header on this reply too
    // ("*IDN SIGLENT,SDS2304X,..."); the identification is what follows it.
    m_idn = quarvel::instr::SkipEchoedHeader(WithoutTrailingWhiteSpace(reply), "*IDN?");
    return true;
}

bool CInstrConnection::CreateDriver() {
    m_manufacturer.clear();
    m_model.clear();
    const IdnFields fields = SplitIdn(m_idn);
    m_manufacturer = fields.manufacturer;
    m_model = fields.model;

    std::unique_ptr<CInstrLL> driver =
        quarvel::instr::FamilyRegistry::Installed().CreateDriver(m_manufacturer, m_model);
    if (!driver)
        return false;
    driver->SetSession(m_session);
    m_driver = std::move(driver);
    return true;
}

std::string UnknownInstrumentText(const std::string& idn) {
    return "Warning: Unknown and possibly incompatible instrument\n"
           "Identification: \"" +
           idn +
           "\"\n"
           "A definition file for it goes into " +
           quarvel::instr::UserDefinitionDirectory() +
           "/ (\"quarvel-cli families\" lists the known families; README: \"Adding your own "
           "instrument\").";
}

void CInstrConnection::Disconnect() {
    m_driver.reset();
    // Only a session this connection holds is closed: closing a stale handle
    // could close a session that has since been given the same number.
    if (m_connected)
        viClose(m_session);
    m_session = 0;
    m_connected = false;
    m_idn.clear();
}
