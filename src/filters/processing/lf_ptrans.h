// "Projective transformation": the whole image re-projected as if the
// camera had been turned by a pan and a tilt angle, and the picture scaled
// by a zoom factor. The camera is given by its focal length and the pixel
// pitch of its imaging device (derivable from the device's diagonal).
#pragma once

#include <cstdint>
#include <mutex>

#include "filters/processing/dialog_filter.h"
#include "image/kernels/perspective.h"

class CLfPtrans : public CDialogFilter<CLfPtrans> {
public:
    // What the worker reads, as one consistent copy: the camera computed
    // for an image size, the applied angles, and the panel's current zoom,
    // focal length and pixel pitch (for a camera at a new image size).
    struct Applied {
        uint32_t active = 0;
        uint64_t sizeW = 0, sizeH = 0;
        CameraMatrix camera{};
        double pan = 0, tilt = 0, roll = 0;
        double zoom = 1;
        double focal = 0, pixelUm = 0;
    };

    CLfPtrans();

    // The panel's values (both copies always alike: what is saved is what
    // the panel shows).
    CSetting<double> focal{settings, L"f", 0, 0, kUnbounded};
    CSetting<double> pixelUm{settings, L"size_pixel_us", 0, 0, kUnbounded};
    CSetting<double> inch{settings, L"size_inch", 0, 0, kUnbounded};
    CSetting<double> pan{settings, L"pan", 0, -kUnbounded, kUnbounded};
    CSetting<double> tilt{settings, L"tilt", 0, -kUnbounded, kUnbounded};
    CSetting<double> zoom{settings, L"zoom", 1, 0, kUnbounded};

    CFgUILabel focalLabel, mmLabel, pixelLabel, umLabel, inchLabel, panLabel, tiltLabel, zoomLabel;
    CFgUIEdit focalEdit, pixelEdit, inchEdit, panEdit, tiltEdit, zoomEdit;
    CFgUIButton calcButton, setButton;

    Applied Get() const;

    PanelSpec Panel() override;
    void LoadConfig(CCfgPack* pack) override;
    int32_t OnFilter(CImgBuff* image, uint64_t frame, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t connect,
                     uint32_t bg, uint32_t* workFormat, uint32_t* channelBytes) override;

    // "calc from CCD size" and "set", as their clicks run them.
    void CalcPixelSize();
    void ApplyCamera();

protected:
    void ApplyRules() override;
    void ShowSettings() override;

private:
    static constexpr double kUnbounded = 1.7976931348623157e308;
    struct EditBinding {
        CLfPtrans* filter;
        CFgUIEdit* edit;
        CSetting<double>* setting;
    };
    static void OnTyped(CFgUIEdit* edit, void* data);
    static void OnCommit(CFgUIEdit* edit, void* data);
    static void OnCalc(CFgUIButton* button, void* data);
    static void OnSet(CFgUIButton* button, void* data);
    void MarkEdited();
    void ShowValue(CFgUIEdit* edit, double value);
    // The panel's zoom, focal length and pixel pitch into the worker's copy.
    void Publish();
    // Activates the camera for the current image size with the panel's
    // angles; false (nothing changed) when there is no image or no camera.
    bool Activate();
    void ShowError(const wchar_t* english, const wchar_t* japanese);
    bool AcceptsCommit(const CSetting<double>* setting, const wchar_t* text, double* value) const;

    EditBinding bindings_[6];
    mutable std::mutex lock_;
    Applied applied_;
};

// A new "Projective transformation" filter, or null when out of memory.
CImgFilter* CreateLfPtrans();
