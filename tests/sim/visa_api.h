// The VISA functions of one of our libraries (and the simulator's controls),
// resolved by name from a loaded copy, as a VISA client resolves them.
#pragma once

#include "link/visa_types.h"
#include "platform/dynamic_library.h"
#include "sim/zqsim_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace meterload::testing {

using visa::ViSession;
using visa::ViStatus;
using visa::ViUInt32;

using ViGetAttributeFn = ViStatus(METERLOAD_VI_FUNC*)(visa::ViObject, visa::ViAttr, void*);
using ViParseRsrcFn = ViStatus(METERLOAD_VI_FUNC*)(ViSession, const char*, visa::ViUInt16*, visa::ViUInt16*);
using ViStatusDescFn = ViStatus(METERLOAD_VI_FUNC*)(visa::ViObject, ViStatus, char*);

struct VisaApi {
    explicit VisaApi(const std::string& path)
    {
        if (!library.Load(path)) {
            ADD_FAILURE() << "cannot load " << path << ": " << library.LastError();
            return;
        }
        openDefaultRM = Get<visa::ViOpenDefaultRMFn>("viOpenDefaultRM");
        findRsrc = Get<visa::ViFindRsrcFn>("viFindRsrc");
        findNext = Get<visa::ViFindNextFn>("viFindNext");
        open = Get<visa::ViOpenFn>("viOpen");
        close = Get<visa::ViCloseFn>("viClose");
        write = Get<visa::ViWriteFn>("viWrite");
        read = Get<visa::ViReadFn>("viRead");
        queryf = Get<visa::ViQueryfFn>("viQueryf");
        setAttribute = Get<visa::ViSetAttributeFn>("viSetAttribute");
        getAttribute = Get<ViGetAttributeFn>("viGetAttribute");
        parseRsrc = Get<ViParseRsrcFn>("viParseRsrc");
        statusDesc = Get<ViStatusDescFn>("viStatusDesc");
        // Only the simulated library has its controls.
        configure = reinterpret_cast<zqsim_configure_fn>(library.Symbol("zqsim_configure"));
        powerCycle = reinterpret_cast<zqsim_power_cycle_fn>(library.Symbol("zqsim_power_cycle"));
    }

    template <class Function>
    Function Get(const char* name)
    {
        void* symbol = library.Symbol(name);
        EXPECT_NE(symbol, nullptr) << name << " is not exported";
        return reinterpret_cast<Function>(symbol);
    }

    // Opens the resource manager and the first instrument the search finds.
    ViSession OpenInstrument(const char* expression = "USB[0-9]*::0x1D47::0x0B62::?*INSTR")
    {
        EXPECT_EQ(openDefaultRM(&rm), visa::VI_SUCCESS);
        char name[visa::VI_FIND_BUFLEN] = {};
        ViUInt32 count = 0;
        visa::ViFindList list = 0;
        EXPECT_EQ(findRsrc(rm, expression, &list, &count, name), visa::VI_SUCCESS);
        ViSession vi = visa::VI_NULL;
        EXPECT_EQ(open(rm, name, 0, 0, &vi), visa::VI_SUCCESS) << name;
        return vi;
    }

    // Opens the instrument with `serial` by its name (the resource manager
    // first, when none is open); VI_NULL when it cannot be opened.
    ViSession OpenSerial(const std::string& serial)
    {
        if (rm == visa::VI_NULL) {
            EXPECT_EQ(openDefaultRM(&rm), visa::VI_SUCCESS);
        }
        const std::string name = "USB0::0x1D47::0x0B62::" + serial + "::INSTR";
        ViSession vi = visa::VI_NULL;
        return open(rm, name.c_str(), 0, 0, &vi) == visa::VI_SUCCESS ? vi : visa::VI_NULL;
    }

    // Writes `command` and reads the reply: "" when none came.
    std::string Ask(ViSession vi, const std::string& command)
    {
        std::string reply;
        WriteText(vi, command);
        ReadText(vi, reply);
        return reply;
    }

    ViStatus WriteText(ViSession vi, const std::string& text, ViUInt32* sent = nullptr)
    {
        ViUInt32 count = 0;
        const ViStatus status =
            write(vi, reinterpret_cast<const visa::ViByte*>(text.data()), static_cast<ViUInt32>(text.size()), &count);
        if (sent != nullptr) {
            *sent = count;
        }
        return status;
    }

    // One read of up to `capacity` bytes; the bytes received go to `text`.
    ViStatus ReadText(ViSession vi, std::string& text, ViUInt32 capacity = 240)
    {
        std::vector<visa::ViByte> buffer(capacity + 1, 0xEE);
        ViUInt32 received = 0;
        const ViStatus status = read(vi, buffer.data(), capacity, &received);
        EXPECT_LE(received, capacity);
        EXPECT_EQ(buffer[capacity], 0xEE) << "the read ran past its count";
        text.assign(reinterpret_cast<const char*>(buffer.data()), received);
        return status;
    }

    DynamicLibrary library;
    ViSession rm = visa::VI_NULL;
    visa::ViOpenDefaultRMFn openDefaultRM = nullptr;
    visa::ViFindRsrcFn findRsrc = nullptr;
    visa::ViFindNextFn findNext = nullptr;
    visa::ViOpenFn open = nullptr;
    visa::ViCloseFn close = nullptr;
    visa::ViWriteFn write = nullptr;
    visa::ViReadFn read = nullptr;
    visa::ViQueryfFn queryf = nullptr;
    visa::ViSetAttributeFn setAttribute = nullptr;
    ViGetAttributeFn getAttribute = nullptr;
    ViParseRsrcFn parseRsrc = nullptr;
    ViStatusDescFn statusDesc = nullptr;
    zqsim_configure_fn configure = nullptr;
    zqsim_power_cycle_fn powerCycle = nullptr;
};

}  // namespace meterload::testing
