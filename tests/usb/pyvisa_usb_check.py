"""Opens an emulated ZQ6140 through PyVISA's ctypes backend with the USB
library as its VISA library, as a Linux user without a vendor's VISA would:
list the instruments, open the one found, ask its identity."""
import sys

import pyvisa


def main(library):
    rm = pyvisa.ResourceManager(library)
    resources = rm.list_resources()
    expected = ("USB1::0x1D47::0x0B62::ABC123::INSTR",)
    if tuple(resources) != expected:
        print("list_resources: expected %r, got %r" % (expected, resources))
        return 1
    instrument = rm.open_resource(resources[0])
    instrument.timeout = 5000
    reply = instrument.query("*IDN?")
    if reply != "KORVALEN,ZQ6140,ABC123,02.05-11-07\n":
        print("query('*IDN?'): got %r" % reply)
        return 1
    instrument.close()
    rm.close()
    print("ok: %s" % reply.strip())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
