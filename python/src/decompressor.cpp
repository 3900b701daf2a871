// mornak.Decompressor: one .bk stream restored from data given in pieces,
// as far as an output limit allows. The stream ends at its own end: what
// follows it is unused_data. Each call restores with the GIL released, under
// the object's own lock.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common.hpp"

namespace pymornak {

namespace {

// Restored bytes waiting to become a bytes object: grown, never shrunk,
// and never filled with zeros first.
struct Scratch {
    unsigned char* data = nullptr;
    std::size_t size = 0;
    ~Scratch() { std::free(data); }
    bool reserve(std::size_t wanted) {
        if (wanted <= size) {
            return true;
        }
        void* grown = std::realloc(data, wanted);
        if (grown == nullptr) {
            return false;
        }
        data = static_cast<unsigned char*>(grown);
        size = wanted;
        return true;
    }
};

struct Decompressor {
    PyObject_HEAD
    mornak_decoder* decoder;
    PyThread_type_lock lock;
    std::vector<unsigned char>* pending;  // input given but not yet taken by the decoder
    Scratch* scratch;
    PyObject* unused_data;                // bytes; b"" until the end
    unsigned char header[MORNAK_HEADER_BYTES];
    std::uint64_t given;                  // .bk bytes given so far, from the file's start
    bool eof;
    bool needs_input;
    bool failed;
    bool finishing;                       // finish was called: every later call finishes too
};

bool initialized(Decompressor* self) {
    if (self->decoder == nullptr) {
        PyErr_SetString(PyExc_ValueError, "mornak: Decompressor.__init__ was not called");
        return false;
    }
    return true;
}

void keep_header(Decompressor* self, const unsigned char* data, std::size_t size) {
    if (self->given < MORNAK_HEADER_BYTES && size != 0) {
        const std::size_t n = std::min<std::size_t>(MORNAK_HEADER_BYTES - self->given, size);
        std::memcpy(self->header + self->given, data, n);
    }
}

// Appends to, or replaces, the pending input; false when memory runs out.
bool keep(std::vector<unsigned char>& pending, const unsigned char* data, std::size_t size, bool append) {
    try {
        if (!append) {
            pending.clear();
        }
        pending.insert(pending.end(), data, data + size);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Restores from data (the pending input first), at most max_length bytes
// (all there are when negative); with finish, no more input comes.
PyObject* restore(Decompressor* self, PyObject* data_object, Py_ssize_t max_length, int finish) {
    Buffer data;
    if (data_object != nullptr && !data.hold(data_object)) {
        return nullptr;
    }
    Locked locked(self->lock);
    if (self->eof) {
        PyErr_SetString(PyExc_EOFError, "End of stream already reached");
        return nullptr;
    }
    if (self->finishing && data_object != nullptr && data.size() != 0) {
        PyErr_SetString(PyExc_ValueError, "mornak: data after finish");
        return nullptr;
    }
    self->finishing = self->finishing || finish != 0;
    finish = self->finishing ? 1 : 0;
    if (self->failed) {
        mornak_fault fault{};
        mornak_decoder_fault(self->decoder, &fault);
        return raise_fault(fault, self->given, header_length(self->header, std::min<std::uint64_t>(self->given, 8)));
    }
    std::vector<unsigned char>& pending = *self->pending;
    const unsigned char* input = data.data();
    std::size_t input_size = data_object != nullptr ? data.size() : 0;
    keep_header(self, input, input_size);
    self->given += input_size;
    if (!pending.empty()) {
        if (!keep(pending, input, input_size, true)) {
            return PyErr_NoMemory();
        }
        input = pending.data();
        input_size = pending.size();
    }
    // At most `limit` bytes out; room for a first guess of them, doubled as they come.
    const bool limited = max_length >= 0;
    const std::size_t limit = limited ? static_cast<std::size_t>(max_length) : SIZE_MAX;
    std::size_t room = std::min(limit, std::max<std::size_t>(64 << 10, 4 * input_size));
    Scratch& out = *self->scratch;
    if (!out.reserve(std::max<std::size_t>(room, 1))) {
        return PyErr_NoMemory();
    }
    mornak_in in{input, input_size, 0};
    std::size_t written = 0;
    mornak_status status = MORNAK_MORE;
    bool no_memory = false;
    Py_BEGIN_ALLOW_THREADS
    for (;;) {
        mornak_out o{out.data, room, written};
        status = mornak_decoder_run(self->decoder, &in, &o, finish);
        written = o.pos;
        if (status != MORNAK_MORE) {
            break;
        }
        if (written == room) {
            if (room == limit) {
                break;
            }
            room = limit - room > room ? 2 * room : limit;
            if (!out.reserve(room)) {
                no_memory = true;
                break;
            }
        } else if (in.pos == in.size && !finish) {
            break;  // everything given is taken and restored
        }
    }
    Py_END_ALLOW_THREADS
    if (no_memory) {
        return PyErr_NoMemory();
    }
    if (status < 0) {
        self->failed = true;
        pending.clear();
        mornak_fault fault{};
        mornak_decoder_fault(self->decoder, &fault);
        return raise_fault(fault, self->given, header_length(self->header, std::min<std::uint64_t>(self->given, 8)));
    }
    PyObject* result = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out.data), static_cast<Py_ssize_t>(written));
    if (result == nullptr) {
        return nullptr;
    }
    if (status == MORNAK_OK) {
        self->eof = true;
        self->needs_input = false;
        // What follows the stream: the bytes the decoder holds past it, then those it left.
        std::size_t held = 0;
        mornak_decoder_unused(self->decoder, nullptr, 0, &held);
        PyObject* unused = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(held + in.size - in.pos));
        if (unused == nullptr) {
            Py_DECREF(result);
            return nullptr;
        }
        char* bytes = PyBytes_AsString(unused);
        mornak_decoder_unused(self->decoder, bytes, held, &held);
        std::memcpy(bytes + held, in.data + in.pos, in.size - in.pos);
        Py_DECREF(self->unused_data);
        self->unused_data = unused;
        pending.clear();
        pending.shrink_to_fit();
    } else {
        if (input == pending.data()) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(in.pos));
        } else {
            if (!keep(pending, in.data + in.pos, in.size - in.pos, false)) {
                Py_DECREF(result);
                return PyErr_NoMemory();
            }
        }
        self->needs_input = pending.empty() && written != limit;
    }
    return result;
}

int init(PyObject* object, PyObject* args, PyObject* kwargs) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    static const char* keywords[] = {"_whole_file", nullptr};
    int whole_file = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$p:Decompressor", const_cast<char**>(keywords), &whole_file)) {
        return -1;
    }
    if (self->decoder == nullptr) {
        self->decoder = mornak_decoder_create();
        self->lock = PyThread_allocate_lock();
        self->pending = new (std::nothrow) std::vector<unsigned char>();
        self->scratch = new (std::nothrow) Scratch();
        if (self->decoder == nullptr || self->lock == nullptr || self->pending == nullptr || self->scratch == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
    }
    Locked locked(self->lock);
    mornak_decoder_stop_at_end(self->decoder, whole_file ? 0 : 1);
    mornak_decoder_begin(self->decoder);
    self->pending->clear();
    Py_XDECREF(self->unused_data);
    self->unused_data = PyBytes_FromStringAndSize(nullptr, 0);
    self->given = 0;
    self->eof = false;
    self->needs_input = true;
    self->failed = false;
    self->finishing = false;
    return self->unused_data != nullptr ? 0 : -1;
}

void dealloc(PyObject* object) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    mornak_decoder_free(self->decoder);
    if (self->lock != nullptr) {
        PyThread_free_lock(self->lock);
    }
    delete self->pending;
    delete self->scratch;
    Py_XDECREF(self->unused_data);
    free_object(object);
}

PyObject* decompress(PyObject* object, PyObject* args, PyObject* kwargs) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    static const char* keywords[] = {"data", "max_length", nullptr};
    PyObject* data = nullptr;
    Py_ssize_t max_length = -1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|n:decompress", const_cast<char**>(keywords), &data,
                                     &max_length) ||
        !initialized(self)) {
        return nullptr;
    }
    return restore(self, data, max_length, 0);
}

PyObject* finish(PyObject* object, PyObject* args, PyObject* kwargs) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    static const char* keywords[] = {"max_length", nullptr};
    Py_ssize_t max_length = -1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|n:finish", const_cast<char**>(keywords), &max_length) ||
        !initialized(self)) {
        return nullptr;
    }
    return restore(self, nullptr, max_length, 1);
}

// Starts over at a restart point (bk_bit, content_offset) of the file whose
// first 8 bytes are `header`: what is given next is the file from byte bk_bit // 8.
PyObject* begin_at(PyObject* object, PyObject* args) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    Buffer header;
    PyObject* header_object = nullptr;
    unsigned long long bk_bit = 0, content_offset = 0;
    if (!PyArg_ParseTuple(args, "OKK:_begin_at", &header_object, &bk_bit, &content_offset) || !initialized(self) ||
        !header.hold(header_object)) {
        return nullptr;
    }
    if (header.size() != MORNAK_HEADER_BYTES) {
        PyErr_SetString(PyExc_ValueError, "mornak: a header is 8 bytes");
        return nullptr;
    }
    Locked locked(self->lock);
    const mornak_point point{bk_bit, content_offset};
    if (const mornak_status status = mornak_decoder_begin_at(self->decoder, header.data(), &point, 0);
        status != MORNAK_OK) {
        PyErr_Format(PyExc_ValueError, "mornak: not a restart point of this file (%s)", mornak_status_name(status));
        return nullptr;
    }
    std::memcpy(self->header, header.data(), MORNAK_HEADER_BYTES);
    self->given = bk_bit / 8;
    self->pending->clear();
    self->eof = false;
    self->needs_input = true;
    self->failed = false;
    self->finishing = false;
    Py_RETURN_NONE;
}

PyObject* get_eof(PyObject* object, void*) { return PyBool_FromLong(reinterpret_cast<Decompressor*>(object)->eof); }

PyObject* get_needs_input(PyObject* object, void*) {
    return PyBool_FromLong(reinterpret_cast<Decompressor*>(object)->needs_input);
}

PyObject* get_unused_data(PyObject* object, void*) {
    auto* self = reinterpret_cast<Decompressor*>(object);
    if (!initialized(self)) {
        return nullptr;
    }
    Py_INCREF(self->unused_data);
    return self->unused_data;
}

PyMethodDef methods[] = {
    {"decompress", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decompress)),
     METH_VARARGS | METH_KEYWORDS,
     "decompress(data, max_length=-1) -> bytes\n\nRestores data, the next piece of a .bk file, and returns what it restores:\n"
     "at most max_length bytes when that is 0 or more; then what it could not restore\n"
     "yet is kept, and needs_input is False until it is out (call again with b\"\").\n"
     "Raises BkError at damage, EOFError once the stream has ended."},
    {"finish", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(finish)), METH_VARARGS | METH_KEYWORDS,
     "finish(max_length=-1) -> bytes\n\nSays that no more data comes and returns the rest, as decompress does: a\n"
     "stream cut short raises BkError with where it ends, which decompress alone\n"
     "cannot tell (more data might still come)."},
    {"_begin_at", begin_at, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"eof", get_eof, nullptr, "True once the stream's end was reached.", nullptr},
    {"needs_input", get_needs_input, nullptr,
     "False while restored bytes wait for a call with room for them (after a\ndecompress that reached max_length), "
     "or once the stream has ended.",
     nullptr},
    {"unused_data", get_unused_data, nullptr, "The bytes given after the stream's end (b\"\" before the end).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Decompressor()\n\nRestores one .bk stream from data given in pieces, as bz2.BZ2Decompressor does:\n"
                    "the stream ends at its own end, and what follows it is unused_data. Safe to\n"
                    "share between threads.")},
    {Py_tp_init, reinterpret_cast<void*>(init)},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {0, nullptr},
};

TypeShape shape = {"mornak.Decompressor", sizeof(Decompressor), 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyObject* make_decompressor_type(PyObject* module) { return add_type(module, shape); }

}  // namespace pymornak
