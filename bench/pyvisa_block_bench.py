#!/usr/bin/python3
"""The same 4 000 000-byte block through PyVISA with libquarvel-visa.so and with
PyVISA's pure-Python backend (Debian's python3-pyvisa-py), over VXI-11 and
SOCKET, from one quarvel-sim in one run; HiSLIP through ours only (pyvisa-py
0.5 has no HiSLIP). Prints the rate of each and the ratio ours / pure Python
(target: at least 1 in every row).

Two ways of reading: PyVISA's default (no read termination; END ends the
reply, and on a socket, which has no END, the line feed after the block) and
read_termination "\n" (as scripts that also use query() set it). Either way
our library takes a reply that starts with a block header by the block's
length, so the line feeds inside the block end no read and PyVISA reads the
block in its 20 KB chunks.

Usage: bench/pyvisa_block_bench.py [BUILD_DIR]   (default build/release)"""

import os
import statistics
import subprocess
import sys
import time

import pyvisa
import pyvisa_py.protocols.rpc

BLOCK_SIZE = 4_000_000
ROUNDS = 5


def start_simulator(sim):
    process = subprocess.Popen(
        [sim, "--instrument", "generic", "--socket-port", "0", "--portmapper-port", "0",
         "--hislip-port", "0"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ports = {}
    while len(ports) < 4:
        name, address = process.stdout.readline().split()
        ports[name] = int(address.rsplit(":", 1)[1])
    return process, ports


def seconds_per_block(rm, resource, termination):
    """Median time of one query_binary_values of the block."""
    inst = rm.open_resource(resource)
    inst.read_termination = termination
    inst.write_termination = "\n"
    inst.timeout = 60000
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        data = inst.query_binary_values(":TEST:BLOCK? %d" % BLOCK_SIZE, datatype="B",
                                        container=bytes)
        times.append(time.perf_counter() - start)
        if len(data) != BLOCK_SIZE:
            raise RuntimeError("short block from %s" % resource)
    inst.close()
    return statistics.median(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
    library = os.path.abspath(os.path.join(build, "lib", "libquarvel-visa.so"))
    process, ports = start_simulator(os.path.join(build, "bin", "quarvel-sim"))
    try:
        # Each backend asks the simulator's portmapper: ours through the
        # environment, the pure-Python one through its module constant.
        os.environ["QUARVEL_PORTMAPPER_PORT"] = str(ports["portmapper"])
        pyvisa_py.protocols.rpc.PMAP_PORT = ports["portmapper"]
        backends = {"quarvel": pyvisa.ResourceManager(library),
                    "pyvisa-py": pyvisa.ResourceManager("@py")}
        resources = {"VXI-11": "TCPIP0::127.0.0.1::inst0::INSTR",
                     "SOCKET": "TCPIP0::127.0.0.1::%d::SOCKET" % ports["socket"],
                     "HiSLIP": "TCPIP0::127.0.0.1::hislip0,%d::INSTR" % ports["hislip"]}
        for termination in ("\n", None):
            for transport, resource in resources.items():
                # pyvisa-py cannot do HiSLIP, and a socket read without a
                # termination character ends for it only at the count or the
                # timeout (as the standard has it): PyVISA's last chunk of
                # the block runs into the timeout.
                theirs_too = transport == "VXI-11" or (transport == "SOCKET" and termination)
                result = {name: seconds_per_block(rm, resource, termination)
                          for name, rm in backends.items() if name == "quarvel" or theirs_too}
                rates = {name: BLOCK_SIZE / t / 1e6 for name, t in result.items()}
                if "pyvisa-py" in result:
                    theirs = "pyvisa-py %7.1f MB/s   ratio %.2f" % (
                        rates["pyvisa-py"], result["pyvisa-py"] / result["quarvel"])
                else:
                    theirs = "(pyvisa-py: %s)" % ("no HiSLIP" if transport == "HiSLIP"
                                                  else "times out")
                print("%-7s %-14s quarvel %7.1f MB/s   %s" %
                      (transport, "termination LF" if termination else "no termination",
                       rates["quarvel"], theirs))
    finally:
        process.terminate()
        process.wait()


if __name__ == "__main__":
    main()
