"""PyVISA (Debian's python3-pyvisa) with libquarvel-visa.so as its VISA library,
driving quarvel-sim over real loopback sockets, over VXI-11, SOCKET and USB
(USBTMC/USB488 on the simulator's USB/IP server).

Run by ctest as: python3 pyvisa_test.py QUARVEL_SIM LIBQUARVEL_VISA [TEST_NAME...]
A missing PyVISA fails the test (scripts/test.sh installs it)."""

import os
import subprocess
import sys
import threading
import time
import unittest

import pyvisa
from pyvisa import constants, errors

SIM, LIBRARY = sys.argv[1], sys.argv[2]
IDN = "ACME,X1,1,1.0"
BLOCK_SIZE = 4_000_000


def test_byte(i):
    """Byte i of the simulator's :TEST:BLOCK? data."""
    return (i * 31 + (i >> 8) * 7 + 11) & 0xFF


class Simulator:
    """quarvel-sim on free loopback ports; its endpoints read from its output."""

    def __init__(self):
        self.process = subprocess.Popen(
            [SIM, "--instrument", "generic", "--idn", IDN, "--socket-port", "0",
             "--portmapper-port", "0", "--hislip-port", "0", "--usbip-port", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.ports = {}
        self.usb_resource = None
        while len(self.ports) < 4 or self.usb_resource is None:
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError("quarvel-sim ended before printing its endpoints")
            name, address = line.split()
            if name == "usb":
                self.usb_resource = address
            else:
                self.ports[name] = int(address.rsplit(":", 1)[1])

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class PyVisaWithQuarvel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()
        # PyVISA cannot set Quarvel's portmapper attribute; the library reads
        # the port from the environment when the resource manager opens.
        os.environ["QUARVEL_PORTMAPPER_PORT"] = str(cls.sim.ports["portmapper"])
        # Nor its USB/IP server attribute: USB sessions read the environment.
        os.environ["QUARVEL_USBIP"] = "127.0.0.1:%d" % cls.sim.ports["usbip"]
        cls.rm = pyvisa.ResourceManager(LIBRARY)
        cls.resources = {
            "VXI-11": "TCPIP0::127.0.0.1::inst0::INSTR",
            "SOCKET": "TCPIP0::127.0.0.1::%d::SOCKET" % cls.sim.ports["socket"],
            "USB": cls.sim.usb_resource,
        }
        cls.hislip = "TCPIP0::127.0.0.1::hislip0,%d::INSTR" % cls.sim.ports["hislip"]

    @classmethod
    def tearDownClass(cls):
        cls.rm.close()
        cls.sim.stop()

    def open(self, transport):
        resource = self.hislip if transport == "HiSLIP" else self.resources[transport]
        inst = self.rm.open_resource(resource)
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 5000
        return inst

    def test_library_is_ours_and_lists_the_usb_device(self):
        self.assertEqual(self.rm.visalib.library_path.path, LIBRARY)
        # The USB device of the named USB/IP server; the LAN is not searched.
        self.assertEqual(self.rm.list_resources(), (self.sim.usb_resource,))
        info = self.rm.resource_info("tcpip::127.0.0.1::5025::socket")
        self.assertEqual(info.interface_type, constants.InterfaceType.tcpip)
        self.assertEqual(info.resource_class, "SOCKET")
        self.assertEqual(info.resource_name, "TCPIP0::127.0.0.1::5025::SOCKET")

    def test_query_write_read_raw_and_terminations(self):
        for transport in list(self.resources) + ["HiSLIP"]:
            with self.subTest(transport=transport):
                inst = self.open(transport)
                self.assertEqual(inst.query("*IDN?"), IDN)
                inst.write("*IDN?")
                self.assertEqual(inst.read_raw(), (IDN + "\n").encode())
                inst.write_termination = ""
                inst.write("*IDN?\n")
                inst.read_termination = ","
                self.assertEqual(inst.read(), "ACME")
                inst.read_termination = "\n"
                self.assertEqual(inst.read(), "X1,1,1.0")
                self.assertEqual(inst.timeout, 5000)
                inst.close()

    def test_four_megabyte_block(self):
        expected = bytes(test_byte(i) for i in range(BLOCK_SIZE))
        for transport in self.resources:
            with self.subTest(transport=transport):
                inst = self.open(transport)
                inst.timeout = 30000
                data = inst.query_binary_values(":TEST:BLOCK? %d" % BLOCK_SIZE, datatype="B",
                                                container=bytes)
                self.assertEqual(len(data), BLOCK_SIZE)
                self.assertTrue(data == expected)
                self.assertEqual(inst.query("*IDN?"), IDN)  # the stream stays in step
                inst.close()

    def test_blocks_in_a_row_at_defaults_and_with_line_feed_termination(self):
        # Line feeds inside a block are data, and the block's terminator is
        # read with it: PyVISA at its defaults (no read termination, which on
        # a socket leaves only the line feed to end a read) and with
        # read_termination "\n" reads block after block, and the next reply
        # is the next query's own.
        expected = bytes(test_byte(i) for i in range(BLOCK_SIZE))
        resources = {"SOCKET": self.resources["SOCKET"], "VXI-11": self.resources["VXI-11"],
                     "HiSLIP": self.hislip}
        for transport, resource in resources.items():
            for termination, blocks in ((None, 5), ("\n", 2)):
                with self.subTest(transport=transport, termination=termination):
                    inst = self.rm.open_resource(resource)
                    inst.timeout = 30000
                    if termination is not None:
                        inst.read_termination = termination
                    for _ in range(blocks):
                        data = inst.query_binary_values(":TEST:BLOCK? %d" % BLOCK_SIZE,
                                                        datatype="B", container=bytes)
                        self.assertTrue(data == expected)
                    self.assertEqual(inst.query("*IDN?").rstrip("\r\n"), IDN)
                    inst.close()

    def test_threads_with_sessions_of_their_own_and_a_close_that_ends_a_blocked_read(self):
        # PyVISA programs use threads: blocks of different lengths side by
        # side on sessions of each transport (a reply taken by the wrong
        # session shows as a wrong length), then a close from this thread
        # ends a read that another thread is blocked in, long before its
        # timeout, with an error.
        failures = []

        def read_blocks(resource, length):
            try:
                inst = self.rm.open_resource(resource)
                inst.timeout = 30000
                for extra in range(3):
                    data = inst.query_binary_values(":TEST:BLOCK? %d" % (length + extra),
                                                    datatype="B", container=bytes)
                    if len(data) != length + extra or data[:3] != bytes(map(test_byte, range(3))):
                        failures.append((resource, len(data)))
                inst.close()
            except Exception as error:  # reported below, with the others
                failures.append((resource, error))

        resources = [self.resources["SOCKET"], self.resources["VXI-11"], self.hislip,
                     self.resources["SOCKET"], self.resources["VXI-11"]]
        threads = [threading.Thread(target=read_blocks, args=(resource, 100_000 * (i + 1)))
                   for i, resource in enumerate(resources)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(120)
        self.assertEqual(failures, [])

        for transport in ("SOCKET", "VXI-11"):
            with self.subTest(transport=transport):
                inst = self.rm.open_resource(self.resources[transport])
                inst.timeout = 20000
                outcome = []

                def read_nothing():
                    try:
                        inst.read_raw()  # nothing was asked
                        outcome.append("read returned")
                    except errors.VisaIOError as error:
                        outcome.append(error.error_code)

                reader = threading.Thread(target=read_nothing)
                reader.start()
                time.sleep(0.3)
                start = time.monotonic()
                inst.close()
                reader.join(15)
                self.assertFalse(reader.is_alive())
                self.assertLess(time.monotonic() - start, 5)
                self.assertEqual(outcome, [constants.StatusCode.error_abort])

    def test_timeout_clear_status_byte_and_close(self):
        for transport in self.resources:
            with self.subTest(transport=transport):
                inst = self.open(transport)
                inst.timeout = 300
                with self.assertRaises(errors.VisaIOError) as raised:
                    inst.read()  # nothing was asked
                self.assertEqual(raised.exception.error_code, constants.StatusCode.error_timeout)
                inst.timeout = 5000
                if transport == "VXI-11":
                    inst.write("*IDN?")
                inst.clear()  # device clear: drops a waiting reply
                self.assertIsInstance(inst.read_stb(), int)
                self.assertEqual(inst.query("*IDN?"), IDN)
                inst.close()
                with self.assertRaises(errors.InvalidSession):
                    inst.query("*IDN?")

    def test_status_byte_shows_a_waiting_reply(self):
        for transport in ("VXI-11", "USB"):
            with self.subTest(transport=transport):
                inst = self.open(transport)
                self.assertEqual(inst.read_stb() & 0x10, 0)
                inst.write("*IDN?")
                self.assertEqual(inst.read_stb() & 0x10, 0x10)
                self.assertEqual(inst.read(), IDN)
                inst.close()

    def test_usb_resource_attributes(self):
        inst = self.open("USB")
        self.assertIsInstance(inst, pyvisa.resources.USBInstrument)
        vendor, product, serial = self.sim.usb_resource.split("::")[1:4]
        self.assertEqual(inst.manufacturer_id, int(vendor, 16))
        self.assertEqual(inst.model_code, int(product, 16))
        self.assertEqual(inst.serial_number, serial)
        self.assertEqual(inst.interface_number, 0)
        self.assertEqual(inst.usb_protocol, 1)  # USB488
        self.assertEqual(inst.maximum_interrupt_size, 8)
        info = self.rm.resource_info(self.sim.usb_resource.lower())
        self.assertEqual(info.interface_type, constants.InterfaceType.usb)
        self.assertEqual(info.resource_name, self.sim.usb_resource)
        inst.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
