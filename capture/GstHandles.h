#pragma once

#include <gst/gst.h>

#include <memory>

// Owning handles for the GStreamer objects the capture code holds, so that every early return
// of a graph build releases what it made.
namespace gsthandle {

struct ObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            gst_object_unref(object);
    }
};
struct CapsUnref {
    void operator()(GstCaps *caps) const
    {
        if (caps)
            gst_caps_unref(caps);
    }
};
struct MessageUnref {
    void operator()(GstMessage *message) const
    {
        if (message)
            gst_message_unref(message);
    }
};
struct SampleUnref {
    void operator()(GstSample *sample) const
    {
        if (sample)
            gst_sample_unref(sample);
    }
};
struct StructureFree {
    void operator()(GstStructure *structure) const
    {
        if (structure)
            gst_structure_free(structure);
    }
};
struct ErrorFree {
    void operator()(GError *error) const
    {
        if (error)
            g_error_free(error);
    }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct DeviceListFree {
    void operator()(GList *list) const { g_list_free_full(list, gst_object_unref); }
};

} // namespace gsthandle

template<typename T> using GstObjectHandle = std::unique_ptr<T, gsthandle::ObjectUnref>;
using GstElementHandle = GstObjectHandle<GstElement>;
using GstBusHandle = GstObjectHandle<GstBus>;
using GstPadHandle = GstObjectHandle<GstPad>;
using GstDeviceHandle = GstObjectHandle<GstDevice>;
using GstCapsHandle = std::unique_ptr<GstCaps, gsthandle::CapsUnref>;
using GstMessageHandle = std::unique_ptr<GstMessage, gsthandle::MessageUnref>;
using GstSampleHandle = std::unique_ptr<GstSample, gsthandle::SampleUnref>;
using GstStructureHandle = std::unique_ptr<GstStructure, gsthandle::StructureFree>;
using GErrorHandle = std::unique_ptr<GError, gsthandle::ErrorFree>;
using GCharHandle = std::unique_ptr<gchar, gsthandle::GFree>;

// Takes a new reference (for objects handed over as "transfer none").
template<typename T> GstObjectHandle<T> gstRef(T *object)
{
    return GstObjectHandle<T>(object ? static_cast<T *>(gst_object_ref(object)) : nullptr);
}

// Takes ownership of a floating reference (a freshly made element) by sinking it. Every element
// the capture code makes goes through here, so it has exactly one owner from its first line on.
inline GstElementHandle gstSink(GstElement *element)
{
    return GstElementHandle(element ? static_cast<GstElement *>(gst_object_ref_sink(element)) : nullptr);
}

// A new element of `factory` in a handle; null when the factory is missing.
inline GstElementHandle gstMake(const char *factory, const char *name = nullptr)
{
    return gstSink(gst_element_factory_make(factory, name));
}

// Hands an element over to a bin: the bin takes its own reference and the handle's is let go, so
// from here the bin alone owns it. Gives back the element (borrowed from the bin), or null when
// the bin refused it, in which case the element is released with the handle.
inline GstElement *gstAdd(GstBin *bin, GstElementHandle element)
{
    GstElement *raw = element.get();
    return raw && gst_bin_add(bin, raw) ? raw : nullptr;
}
