"""Drives a ZQ6140 through PyVISA's ctypes backend with one of our VISA
libraries, as any VISA client would: list the instruments, open the first,
ask its identity.

    pyvisa_check.py LIBRARY [EXPECTED RESOURCE NAME ...]

The names expected by default are the simulated library's two instruments."""
import sys

import pyvisa


def main(library, expected):
    rm = pyvisa.ResourceManager(library)
    resources = rm.list_resources()
    if tuple(resources) != expected:
        print("list_resources: expected %r, got %r" % (expected, resources))
        return 1
    instrument = rm.open_resource(resources[0])
    instrument.timeout = 10000
    reply = instrument.query("*idn?")
    serial = resources[0].split("::")[3]
    if reply != "KORVALEN,ZQ6140,%s,02.05-11-07\n" % serial:
        print("query('*idn?'): got %r" % reply)
        return 1
    instrument.close()
    rm.close()
    print("ok: %s" % reply.strip())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], tuple(sys.argv[2:]) or (
        "USB0::0x1D47::0x0B62::ABC123::INSTR", "USB0::0x1D47::0x0B62::DEF456::INSTR")))
