// mornak.Compressor: one .bk stream made from data given in pieces. Each
// call converts with the GIL released, under the object's own lock.
#include <new>
#include <vector>

#include "common.hpp"

namespace pymornak {

namespace {

struct Compressor {
    PyObject_HEAD
    mornak_encoder* encoder;
    PyThread_type_lock lock;
    std::vector<unsigned char>* out;  // scratch the encoder writes into, kept between calls
    bool flushed;
    bool size_known;
};

// Every call converts into `out`, grown while the encoder asks for room:
// it writes no more than a few bytes per input byte and flush's closing codes.
PyObject* run(Compressor* self, const unsigned char* data, std::size_t size, int finish) {
    mornak_in in{data, size, 0};
    std::vector<unsigned char>& out = *self->out;
    std::size_t written = 0;
    mornak_status status = MORNAK_MORE;
    bool no_memory = false;
    Py_BEGIN_ALLOW_THREADS
    for (;;) {
        if (out.size() - written < 64 + size / 2) {
            try {
                out.resize(written + 64 + size / 2 + size);
            } catch (const std::bad_alloc&) {
                no_memory = true;
                break;
            }
        }
        mornak_out o{out.data(), out.size(), written};
        status = mornak_encoder_run(self->encoder, &in, &o, finish);
        written = o.pos;
        if (status != MORNAK_MORE || (in.pos == in.size && o.pos < o.size)) {
            break;
        }
    }
    Py_END_ALLOW_THREADS
    if (no_memory) {
        return PyErr_NoMemory();
    }
    if (status < 0) {
        return raise_status(status);
    }
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out.data()), static_cast<Py_ssize_t>(written));
}

int init(PyObject* object, PyObject* args, PyObject* kwargs) {
    auto* self = reinterpret_cast<Compressor*>(object);
    static const char* keywords[] = {"size", nullptr};
    PyObject* size_object = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:Compressor", const_cast<char**>(keywords), &size_object)) {
        return -1;
    }
    long long size = MORNAK_SIZE_UNKNOWN;
    if (size_object != Py_None) {
        size = PyLong_AsLongLong(size_object);
        if (size == -1 && PyErr_Occurred()) {
            return -1;
        }
        if (size < 0 || size > MORNAK_MAX_INPUT) {
            PyErr_Format(PyExc_ValueError, "mornak: size must be 0 to %d (or None), not %lld", MORNAK_MAX_INPUT, size);
            return -1;
        }
    }
    if (self->encoder == nullptr) {
        self->encoder = mornak_encoder_create();
        self->lock = PyThread_allocate_lock();
        self->out = new (std::nothrow) std::vector<unsigned char>();
        if (self->encoder == nullptr || self->lock == nullptr || self->out == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
    }
    Locked locked(self->lock);
    mornak_encoder_begin(self->encoder, size);
    self->flushed = false;
    self->size_known = size != MORNAK_SIZE_UNKNOWN;
    return 0;
}

void dealloc(PyObject* object) {
    auto* self = reinterpret_cast<Compressor*>(object);
    mornak_encoder_free(self->encoder);
    if (self->lock != nullptr) {
        PyThread_free_lock(self->lock);
    }
    delete self->out;
    free_object(object);
}

bool usable(Compressor* self) {
    if (self->encoder == nullptr) {
        PyErr_SetString(PyExc_ValueError, "mornak: Compressor.__init__ was not called");
        return false;
    }
    if (self->flushed) {
        PyErr_SetString(PyExc_ValueError, "mornak: the Compressor was already flushed");
        return false;
    }
    return true;
}

// Does `work` under the object's lock while the stream takes data; nullptr
// with the error set otherwise.
template <typename Work>
PyObject* while_open(Compressor* self, Work work) {
    if (self->lock == nullptr) {
        usable(self);  // never initialised: says so
        return nullptr;
    }
    Locked locked(self->lock);
    return usable(self) ? work() : nullptr;
}

PyObject* compress(PyObject* object, PyObject* arg) {
    auto* self = reinterpret_cast<Compressor*>(object);
    Buffer data;
    if (!data.hold(arg)) {
        return nullptr;
    }
    return while_open(self, [&] { return run(self, data.data(), data.size(), 0); });
}

PyObject* flush(PyObject* object, PyObject*) {
    auto* self = reinterpret_cast<Compressor*>(object);
    return while_open(self, [&] {
        self->flushed = true;
        return run(self, nullptr, 0, 1);
    });
}

PyObject* header(PyObject* object, void*) {
    auto* self = reinterpret_cast<Compressor*>(object);
    if (self->lock == nullptr) {
        usable(self);  // never initialised: says so
        return nullptr;
    }
    Locked locked(self->lock);
    if (!self->flushed && !self->size_known) {
        PyErr_SetString(PyExc_ValueError, "mornak: the header of a stream of unknown size is known once flushed");
        return nullptr;
    }
    unsigned char bytes[MORNAK_HEADER_BYTES];
    if (const mornak_status status = mornak_encoder_header(self->encoder, bytes); status != MORNAK_OK) {
        return raise_status(status);
    }
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes), MORNAK_HEADER_BYTES);
}

PyMethodDef methods[] = {
    {"compress", compress, METH_O,
     "compress(data) -> bytes\n\nConverts data, the next piece of the input, and returns the .bk bytes ready so\n"
     "far (often none: the encoder keeps what it has not written)."},
    {"flush", flush, METH_NOARGS,
     "flush() -> bytes\n\nEnds the stream and returns the rest of the .bk file. The Compressor is then\n"
     "done: make a new one for another stream."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"header", header, nullptr,
     "The 8-byte header. For a stream begun with size=None the first 8 bytes given\n"
     "out are a placeholder that no reader takes: put these in their place once\n"
     "flushed.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Compressor(size=None)\n\nMakes one .bk file from data given in pieces. size is the input's exact length\n"
                    "when known (0 to 2,147,483,647): a byte more, or flush before it, raises\n"
                    "ValueError. Without it the header is written as a placeholder and .header gives\n"
                    "the real one once flushed. Safe to share between threads.")},
    {Py_tp_init, reinterpret_cast<void*>(init)},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {0, nullptr},
};

TypeShape shape = {"mornak.Compressor", sizeof(Compressor), 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyObject* make_compressor_type(PyObject* module) { return add_type(module, shape); }

}  // namespace pymornak
