#pragma once

// The default printer as the transcript printer drives it.
class PrinterDevice
{
public:
    virtual ~PrinterDevice() = default;
};
