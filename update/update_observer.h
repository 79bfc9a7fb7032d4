// What a front end may learn and decide while an update runs: whether the
// instrument may be switched into update mode, each data write, and the
// outcome. The dialog gives none, and its procedures run as they always have.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace meterload {

class UpdateObserver {
public:
    virtual ~UpdateObserver() = default;

    // Just before "system:update\n", after every check the procedure makes
    // before it. False: the procedure closes its connection and stops, with
    // the instrument left in its normal mode.
    virtual bool MayEnterUpdateMode(std::string_view firmwareVersionField)
    {
        (void)firmwareVersionField;
        return true;
    }

    // "system:update\n" has gone out: from here on, stopping leaves the
    // instrument in update mode.
    virtual void EnteredUpdateMode() {}

    // Before each data write. False: no further byte is written; the
    // procedure closes its connection and reports a failed update.
    virtual bool MayWrite() { return true; }

    // After each data write, with the count the connection reported.
    virtual void Written(std::uint32_t count) { (void)count; }

    // The update reached its end: true when the instrument acknowledged it all.
    virtual void Finished(bool complete) { (void)complete; }

    // Why MayEnterUpdateMode said no when the front end refused the file
    // itself, by the version gate judged before update mode instead of in
    // it; empty when the user chose not to go on.
    virtual std::string Refusal() const { return std::string(); }
};

// The observer that changes nothing, for procedures run without one.
inline UpdateObserver& NoObserver()
{
    static UpdateObserver none;
    return none;
}

}  // namespace meterload
