// Identification: splitting the "*IDN?" reply, choosing the driver family, and
// the connection's identification state over a real session to quarvel-sim.

#include "instr/driver_table.h"
#include "instr/instr_connection.h"
#include "instr/instr_keys_infiniium.h"
#include "instr/instr_keys_infiniivision.h"
#include "instr/instr_rigol_ds.h"
#include "instr/instr_rs_fsv.h"
#include "instr/instr_sigl_sds.h"
#include "instr/instr_tek_tds.h"
#include "tests/instr/driver_fixture.h"

#include <gtest/gtest.h>

#include <typeindex>
#include <typeinfo>
#include <utility>

namespace quarvel::test {
namespace {

struct SplitCase {
    const char* idn;
    const char* manufacturer;
    const char* model;
};

TEST(SplitIdn, FieldsAsInstrumentsSendThem) {
    const SplitCase cases[] = {
        {"KEYSIGHT TECHNOLOGIES,DSO-X 3034A,MY12345678,02.41.2015102200", "KEYSIGHT TECHNOLOGIES",
         "DSO-X 3034A"},
        // Fields are not trimmed: the space after the comma stays.
        {"KEYSIGHT TECHNOLOGIES, DSO-X 3034A, MY1, 1.0", "KEYSIGHT TECHNOLOGIES", " DSO-X 3034A"},
        // An empty model field moves the serial number up.
        {"RIGOL TECHNOLOGIES,,DS1ZA000000001,00.04.04", "RIGOL TECHNOLOGIES", "DS1ZA000000001"},
        // Leading commas and runs of commas are one separator.
        {",,,TEKTRONIX,,,TDS 3034B", "TEKTRONIX", "TDS 3034B"},
        {"ACME INSTRUMENTS", "ACME INSTRUMENTS", ""},
        {",,,", "", ""},
        {" ", " ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.idn);
        const IdnFields fields = SplitIdn(c.idn);
        EXPECT_EQ(fields.manufacturer, c.manufacturer);
        EXPECT_EQ(fields.model, c.model);
    }
}

// Which class a manufacturer/model pair gets; typeid, because the X-series
// class derives from the older InfiniiVision class.
std::type_index SelectedClass(const char* manufacturer, const char* model) {
    const DriverTableRow* row = FindDriverRow(manufacturer, model);
    if (row == nullptr)
        return typeid(void);
    const std::unique_ptr<CInstrLL> driver = row->create();
    return typeid(*driver);
}

// Made-up pairs mark the rules' edges; replies real instruments send
// (programming manuals, published transcripts and bug reports of other
// instrument tools) pin today's rules to them.
TEST(DriverTable, ChoosesTheFamilyFromManufacturerAndModel) {
    const std::type_index none = typeid(void);
    const std::type_index vision = typeid(CInstrKeysInfiniiVision);
    const std::type_index visionX = typeid(CInstrKeysInfiniiVisionX);
    const std::type_index infiniium = typeid(CInstrKeysInfiniium);
    const std::type_index rigol = typeid(CInstrRigolDS);
    const std::type_index siglent = typeid(CInstrSiglSDS);
    const std::type_index tek = typeid(CInstrTekTDS);
    const std::pair<const char*, std::type_index> cases[] = {
        // Both names of the company, the same drivers.
        {"AGILENT TECHNOLOGIES,DSO-X 3034A", visionX},
        {"KEYSIGHT TECHNOLOGIES,DSO-X 3034A", visionX},
        {"AGILENT TECHNOLOGIES,MSO7104B", vision},
        {"AGILENT TECHNOLOGIES,DSO9254A", infiniium},
        {"KEYSIGHT TECHNOLOGIES,DSOS254A", infiniium},
        {"KEYSIGHT TECHNOLOGIES,33522B", none},
        {"KEYSIGHT TECHNOLOGIES", none},
        // Manufacturer names compare exactly, case included.
        {"Agilent Technologies,DSO-X 3034A", none},
        {"ROHDE&SCHWARZ,FSV-7", none},
        {"Rohde&Schwarz,FSW-26", none},
        {"SIGLENT TECHNOLOGIES,SDS1104X-E", none},
        {"TEKTRONIX,MSO 4104", none},
        // DS1000Z/MSO1000Z end in Z; every DS2000 and DS6000 qualifies.
        {"RIGOL TECHNOLOGIES,MSO1104Z", rigol},
        {"RIGOL TECHNOLOGIES,DS1102E", none},
        {"RIGOL TECHNOLOGIES,DS2072A", rigol},
        {"RIGOL TECHNOLOGIES,DS6104", rigol},
        {"RIGOL TECHNOLOGIES,MSO2072A", none},
        // A model with a leading space (comma-and-space replies) matches nothing.
        {"RIGOL TECHNOLOGIES, DS1054Z", none},
        {"ACME,DS1054Z", none},
        {"AGILENT TECHNOLOGIES,MSO7104A,MY45000123,06.16.0001", vision},
        {"AGILENT TECHNOLOGIES,DSO-X 2002A,MY57235663,02.42.2017032900", visionX},
        {"KEYSIGHT TECHNOLOGIES,DSO-X 3034T,MY58490123,07.20.2017102614", visionX},
        {"KEYSIGHT TECHNOLOGIES,DSO9104A,MY53130118,06.00.00901", infiniium},
        {"TEKTRONIX,TDS 3034B,0,CF:91.1CT FV:v3.41 TDS3FFT:v1.00 TDS3TRG:v1.00", tek},
        {"TEKTRONIX,TDS 2024C,C042765,CF:91.1CT FV:v24.26", tek},
        {"Rohde&Schwarz,FSV-7,1307.9002K07/102597,2.30 SP1", typeid(CInstrRSFSV)},
        {"Siglent Technologies,SDS1202X-E,SDS1ECDQ2R5789,7.1.1.3.23", siglent},
        {"Siglent Technologies,SDS1104X-E,SDSMMFCD4R7397,8.1.6.1.35R2", siglent},
        {"Siglent Technologies,SDS2504X Plus,SDS2PEED5R1234,5.3.1.3.9R10", siglent},
        {"Siglent Technologies,SDS824X HD,SDS08A0X801234,3.8.12.1.1.3.8", siglent},
        // Older firmware names the maker in capitals (after its "*IDN " header,
        // which the connection drops).
        {"SIGLENT,SDS2304X,SDS2XJBD1R2754,1.2.2.2 R19", siglent},
        {"RIGOL TECHNOLOGIES,DS1074Z,DS1ZA164912345,00.04.04.SP4", rigol},
        // The series is told by the model's first word: a "Plus" after it is
        // the same DS1000Z instrument with its options unlocked.
        {"RIGOL TECHNOLOGIES,DS1054Z Plus,DS1ZC204807123,00.04.05.SP2", rigol},
        {"RIGOL TECHNOLOGIES,DS1102E Plus,DS1EB1234,00.02.06", none},
    };
    for (const auto& [idn, expected] : cases) {
        SCOPED_TRACE(idn);
        const IdnFields fields = SplitIdn(idn);
        EXPECT_EQ(SelectedClass(fields.manufacturer.c_str(), fields.model.c_str()), expected);
    }
}

// ---- Through a session to the simulated generic instrument ---------------

struct IdentifyCase {
    const char* idn;
    std::type_index expected;
    const char* driverModel; // the model text the driver is given
};

TEST(ConnectionIdentification, CreatesTheDriverAndHandsOverModelAndSession) {
    const IdentifyCase cases[] = {
        {"KEYSIGHT TECHNOLOGIES,DSO-X 3034A,MY12345678,02.41.2015102200",
         typeid(CInstrKeysInfiniiVisionX), "DSO-X 3034A"},
        // An empty model field moves the next field up.
        {"RIGOL TECHNOLOGIES,,DS2072A,1.0", typeid(CInstrRigolDS), "DS2072A"},
        // The other families are not given the model.
        {"Rohde&Schwarz,FSV-7,1307.9002K07/101234,2.30 SP1", typeid(CInstrRSFSV), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.idn);
        SimProcess sim({"--instrument", "generic", "--idn", c.idn});
        ASSERT_TRUE(sim.Started());
        CInstrConnection connection;
        ASSERT_TRUE(OpenSim(connection, sim, Lan::Socket));
        ASSERT_TRUE(connection.QueryIdn());
        EXPECT_EQ(connection.GetIdn(), c.idn);
        ASSERT_TRUE(connection.CreateDriver());
        CInstrLL* driver = connection.GetDriver();
        ASSERT_NE(driver, nullptr);
        EXPECT_EQ(std::type_index(typeid(*driver)), c.expected);
        EXPECT_EQ(driver->GetModel(), c.driverModel);
        EXPECT_EQ(driver->GetSession(), connection.GetSession());
    }
}

TEST(ConnectionIdentification, ReplyLosesTrailingWhiteSpaceAndKeepsAtMost255Characters) {
    const std::string longIdn = "ACME," + std::string(400, 'M') + ",1,1.0";
    const std::pair<std::string, std::string> cases[] = {
        {"ACME,X1,1,1.0 \t\r", "ACME,X1,1,1.0"},
        {longIdn, longIdn.substr(0, 255)},
    };
    for (const auto& [sent, kept] : cases) {
        SimProcess sim({"--instrument", "generic", "--idn", sent});
        ASSERT_TRUE(sim.Started());
        CInstrConnection connection;
        ASSERT_TRUE(OpenSim(connection, sim, Lan::Socket));
        ASSERT_TRUE(connection.QueryIdn());
        EXPECT_EQ(connection.GetIdn(), kept);
        EXPECT_EQ(sim.Transcript(), std::vector<std::string>{"*IDN?"});
    }
}

TEST(ConnectionIdentification, DisconnectKeepsManufacturerAndModelUntilTheNextCreateDriver) {
    SimProcess first({"--instrument", "generic", "--idn", "RIGOL TECHNOLOGIES,DS1054Z,SN1,1.0"});
    SimProcess second({"--instrument", "generic", "--idn", "TEKTRONIX,TDS 3034B,0,FV:v3.35"});
    ASSERT_TRUE(first.Started() && second.Started());
    CInstrConnection connection;
    ASSERT_TRUE(ConnectToSim(connection, first, Lan::Socket));

    connection.Disconnect();
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(connection.GetDriver(), nullptr);
    EXPECT_EQ(connection.GetIdn(), "");
    EXPECT_EQ(connection.GetManufacturer(), "RIGOL TECHNOLOGIES");
    EXPECT_EQ(connection.GetModel(), "DS1054Z");
    EXPECT_FALSE(connection.QueryIdn());

    // The same connection object serves the next instrument.
    ASSERT_TRUE(OpenSim(connection, second, Lan::Socket));
    ASSERT_TRUE(connection.QueryIdn());
    EXPECT_EQ(connection.GetManufacturer(), "RIGOL TECHNOLOGIES");
    ASSERT_TRUE(connection.CreateDriver());
    EXPECT_EQ(connection.GetManufacturer(), "TEKTRONIX");
    EXPECT_EQ(connection.GetModel(), "TDS 3034B");
    EXPECT_NE(dynamic_cast<CInstrTekTDS*>(connection.GetDriver()), nullptr);

    // CreateDriver without a connection clears them.
    connection.Disconnect();
    EXPECT_FALSE(connection.CreateDriver());
    EXPECT_EQ(connection.GetManufacturer(), "");
    EXPECT_EQ(connection.GetModel(), "");
}

TEST(ConnectionOpen, FailsWithoutChangingStateAndSendsNothingWhenClosed) {
    CInstrConnection connection;
    EXPECT_FALSE(connection.QueryIdn());
    EXPECT_FALSE(connection.Open("NOT A RESOURCE"));
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_FALSE(connection.QueryIdn());
    connection.Disconnect(); // nothing open: harmless
    EXPECT_FALSE(connection.IsConnected());
}

TEST(ConnectionOpen, RefusesAnAddressThatWouldNameAnotherResourceWhenCut) {
    SimProcess sim({"--instrument", "generic", "--idn", "ACME,X1,1,1.0"});
    ASSERT_TRUE(sim.Started());
    // The first 255 characters name the simulator (the port with leading
    // zeros); the whole address does not name anything.
    const std::string tail = std::to_string(sim.SocketPort()) + "::SOCKET";
    const std::string head = "TCPIP0::127.0.0.1::";
    const std::string valid = head + std::string(255 - head.size() - tail.size(), '0') + tail;
    ASSERT_EQ(valid.size(), 255u);
    CInstrConnection connection;
    EXPECT_FALSE(connection.Open(valid + "X"));
    EXPECT_FALSE(connection.IsConnected());
    // The 255-character address itself is fine.
    ASSERT_TRUE(connection.Open(valid));
    EXPECT_TRUE(connection.QueryIdn());
    EXPECT_EQ(connection.GetIdn(), "ACME,X1,1,1.0");
}

} // namespace
} // namespace quarvel::test
