// The extension module mornak._mornak: the one-shot calls, the index of
// restart points, and the helpers every part shares. The library works with
// the GIL released; the Python package (mornak/__init__.py) is built on this.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common.hpp"

namespace pymornak {

namespace {

PyObject* the_bk_error = nullptr;  // a strong reference, taken once at import and never changed

// A header is trusted with the size of the bytes object made at once up to
// this many times the .bk file's size, and 64 MiB: a damaged one may claim
// 2 GiB of a few bytes. Beyond it the content is gathered as it comes.
constexpr std::uint64_t TRUSTED_RATIO = 32;
constexpr std::uint64_t TRUSTED_FLOOR = 64 << 20;

// The decoder's verdict on `bk`, for the fault's place and words.
PyObject* raise_restoring_fault(const Buffer& bk) {
    mornak_fault fault{MORNAK_ERROR_MEMORY, 0, 0, 0};
    Py_BEGIN_ALLOW_THREADS
    if (mornak_decoder* decoder = mornak_decoder_create(); decoder != nullptr) {
        mornak_decoder_begin(decoder);
        mornak_in in{bk.data(), bk.size(), 0};
        mornak_status status = MORNAK_MORE;
        while (status == MORNAK_MORE) {
            const unsigned char* run = nullptr;
            std::size_t run_size = 0;
            status = mornak_decoder_run_direct(decoder, &in, 1, &run, &run_size);
        }
        mornak_decoder_fault(decoder, &fault);
        mornak_decoder_free(decoder);
    }
    Py_END_ALLOW_THREADS
    if (fault.status == MORNAK_OK) {
        PyErr_SetString(PyExc_RuntimeError, "mornak: the stream restored on a second look");
        return nullptr;
    }
    return raise_fault(fault, bk.size(), header_length(bk.data(), bk.size()));
}

// decompress for a header that claims much more than its file: the content
// gathered run by run into memory that grows with it, then copied out.
PyObject* decompress_growing(const Buffer& bk) {
    mornak_decoder* decoder = mornak_decoder_create();
    if (decoder == nullptr) {
        return PyErr_NoMemory();
    }
    unsigned char* gathered = nullptr;
    std::size_t size = 0, capacity = 0;
    mornak_status status = MORNAK_MORE;
    Py_BEGIN_ALLOW_THREADS
    mornak_decoder_begin(decoder);
    mornak_in in{bk.data(), bk.size(), 0};
    while (status == MORNAK_MORE) {
        const unsigned char* run = nullptr;
        std::size_t run_size = 0;
        status = mornak_decoder_run_direct(decoder, &in, 1, &run, &run_size);
        if (size + run_size > capacity) {
            const std::size_t grown = std::max(2 * capacity, size + run_size);
            auto* more = static_cast<unsigned char*>(std::realloc(gathered, grown));
            if (more == nullptr) {
                status = MORNAK_ERROR_MEMORY;
                break;
            }
            gathered = more;
            capacity = grown;
        }
        if (run_size != 0) {
            std::memcpy(gathered + size, run, run_size);
            size += run_size;
        }
    }
    Py_END_ALLOW_THREADS
    PyObject* result = nullptr;
    if (status == MORNAK_OK) {
        result = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(gathered), static_cast<Py_ssize_t>(size));
    } else if (status == MORNAK_ERROR_MEMORY) {
        PyErr_NoMemory();
    } else {
        mornak_fault fault{};
        mornak_decoder_fault(decoder, &fault);
        raise_fault(fault, bk.size(), header_length(bk.data(), bk.size()));
    }
    std::free(gathered);
    mornak_decoder_free(decoder);
    return result;
}

PyObject* compress(PyObject*, PyObject* arg) {
    Buffer data;
    if (!data.hold(arg)) {
        return nullptr;
    }
    if (data.size() > MORNAK_MAX_INPUT) {
        PyErr_Format(PyExc_ValueError, "mornak: %zu bytes is more than a .bk file holds (at most %d)", data.size(),
                     MORNAK_MAX_INPUT);
        return nullptr;
    }
    const std::size_t bound = mornak_compress_bound(data.size());
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[bound]);
    if (!out) {
        return PyErr_NoMemory();
    }
    prefer_huge_pages(out.get(), bound);
    std::size_t size = 0;
    mornak_status status;
    Py_BEGIN_ALLOW_THREADS
    status = mornak_compress(data.data(), data.size(), out.get(), bound, &size);
    Py_END_ALLOW_THREADS
    if (status != MORNAK_OK) {
        return raise_status(status);
    }
    PyObject* result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (result != nullptr) {
        char* into = PyBytes_AsString(result);
        prefer_huge_pages(into, size);
        Py_BEGIN_ALLOW_THREADS
        std::memcpy(into, out.get(), size);
        Py_END_ALLOW_THREADS
    }
    return result;
}

PyObject* decompress(PyObject*, PyObject* arg) {
    Buffer bk;
    if (!bk.hold(arg)) {
        return nullptr;
    }
    std::uint64_t length = 0;
    if (mornak_content_size(bk.data(), bk.size(), &length) != MORNAK_OK) {
        return raise_restoring_fault(bk);
    }
    if (length > std::max(TRUSTED_FLOOR, TRUSTED_RATIO * bk.size())) {
        return decompress_growing(bk);
    }
    // The header gives the size: the bytes object is made once, restored into.
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length));
    if (out == nullptr) {
        return nullptr;
    }
    char* into = PyBytes_AsString(out);
    prefer_huge_pages(into, static_cast<std::size_t>(length));
    std::size_t size = 0;
    mornak_status status;
    Py_BEGIN_ALLOW_THREADS
    status = mornak_decompress(bk.data(), bk.size(), into, static_cast<std::size_t>(length), &size);
    Py_END_ALLOW_THREADS
    if (status == MORNAK_OK) {
        return out;
    }
    Py_DECREF(out);
    if (status == MORNAK_ERROR_MEMORY) {
        return PyErr_NoMemory();
    }
    return raise_restoring_fault(bk);
}

PyObject* verify(PyObject*, PyObject* arg) {
    Buffer bk;
    if (!bk.hold(arg)) {
        return nullptr;
    }
    mornak_status status;
    Py_BEGIN_ALLOW_THREADS
    status = mornak_verify(bk.data(), bk.size());
    Py_END_ALLOW_THREADS
    if (status == MORNAK_OK) {
        Py_RETURN_NONE;
    }
    if (status == MORNAK_ERROR_MEMORY) {
        return PyErr_NoMemory();
    }
    // Again, in a verifier of our own, for the fault's place.
    mornak_fault fault{MORNAK_ERROR_MEMORY, 0, 0, 0};
    Py_BEGIN_ALLOW_THREADS
    if (mornak_verifier* verifier = mornak_verifier_create(); verifier != nullptr) {
        mornak_verifier_begin(verifier);
        mornak_in in{bk.data(), bk.size(), 0};
        while (mornak_verifier_run(verifier, &in, 1) == MORNAK_MORE) {
        }
        mornak_verifier_fault(verifier, &fault);
        mornak_verifier_free(verifier);
    }
    Py_END_ALLOW_THREADS
    if (fault.status == MORNAK_ERROR_MEMORY) {
        return PyErr_NoMemory();
    }
    return raise_fault(fault, bk.size(), header_length(bk.data(), bk.size()));
}

PyObject* content_size(PyObject*, PyObject* arg) {
    Buffer bk;
    if (!bk.hold(arg)) {
        return nullptr;
    }
    std::uint64_t length = 0;
    if (mornak_content_size(bk.data(), bk.size(), &length) != MORNAK_OK) {
        return raise_restoring_fault(bk);
    }
    return PyLong_FromUnsignedLongLong(length);
}

// The restart points of a whole .bk file: a list of (bk_bit, content_offset).
PyObject* index(PyObject*, PyObject* arg) {
    Buffer bk;
    if (!bk.hold(arg)) {
        return nullptr;
    }
    const std::size_t bound = mornak_index_bound(bk.size());
    std::unique_ptr<mornak_point[]> points(new (std::nothrow) mornak_point[bound]);
    if (!points) {
        return PyErr_NoMemory();
    }
    std::size_t count = 0;
    mornak_fault fault{};
    mornak_status status;
    Py_BEGIN_ALLOW_THREADS
    status = mornak_index_with_fault(bk.data(), bk.size(), points.get(), bound, &count, &fault);
    Py_END_ALLOW_THREADS
    if (status != MORNAK_OK) {
        return status == MORNAK_ERROR_MEMORY ? PyErr_NoMemory()
                                             : raise_fault(fault, bk.size(), header_length(bk.data(), bk.size()));
    }
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(count));
    for (std::size_t k = 0; list != nullptr && k < count; ++k) {
        PyObject* pair = Py_BuildValue("(KK)", static_cast<unsigned long long>(points[k].bk_bit),
                                       static_cast<unsigned long long>(points[k].content_offset));
        if (pair == nullptr) {
            Py_CLEAR(list);
            break;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(k), pair);
    }
    return list;
}

PyMethodDef methods[] = {
    {"compress", compress, METH_O, "compress(data) -> bytes: the whole .bk file for data."},
    {"decompress", decompress, METH_O, "decompress(data) -> bytes: the content of a whole .bk file."},
    {"verify", verify, METH_O, "verify(data) -> None: raises BkError unless data is a sound .bk file."},
    {"content_size", content_size, METH_O, "content_size(data) -> int: the length a .bk header gives."},
    {"index", index, METH_O, "index(data) -> list: the restart points (bk_bit, content_offset) of a .bk file."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (the_bk_error == nullptr) {
        PyObject* errors = PyImport_ImportModule("mornak._errors");
        if (errors == nullptr) {
            return -1;
        }
        the_bk_error = PyObject_GetAttrString(errors, "BkError");
        Py_DECREF(errors);
        if (the_bk_error == nullptr) {
            return -1;
        }
    }
    const unsigned v = mornak_version();
    PyObject* version = PyUnicode_FromFormat("%u.%u.%u", v / 10000, v / 100 % 100, v % 100);
    if (version == nullptr || PyModule_AddObject(module, "__version__", version) < 0) {
        Py_XDECREF(version);
        return -1;
    }
    if (PyModule_AddIntConstant(module, "MAX_INPUT", MORNAK_MAX_INPUT) < 0) {
        return -1;
    }
    for (PyObject* (*make)(PyObject*) : {make_compressor_type, make_decompressor_type}) {
        if (make(module) == nullptr) {
            return -1;
        }
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "mornak._mornak", "The library's calls, under the mornak package.", 0, methods,
    slots, nullptr, nullptr, nullptr,
};

}  // namespace

void prefer_huge_pages(void* data, std::size_t size) {
    constexpr std::uintptr_t HUGE_PAGE = 2 << 20;
    if (size < 2 * HUGE_PAGE) {
        return;
    }
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(HUGE_PAGE - 1);
#ifdef MADV_HUGEPAGE
    if (end > start) {
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // a hint: no harm when refused
    }
#endif
}

bool Buffer::hold(PyObject* object, bool writable) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "mornak: a bytes-like object is required, not 'str'");
        return false;
    }
    if (PyObject_GetBuffer(object, &view_, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) < 0) {
        return false;
    }
    held_ = true;
    return true;
}

void Buffer::release() {
    if (held_) {
        PyBuffer_Release(&view_);
        held_ = false;
    }
}

Locked::Locked(PyThread_type_lock lock) : lock_(lock) {
    if (PyThread_acquire_lock(lock_, NOWAIT_LOCK) == 0) {
        Py_BEGIN_ALLOW_THREADS
        PyThread_acquire_lock(lock_, WAIT_LOCK);
        Py_END_ALLOW_THREADS
    }
}

PyObject* bk_error_class() { return the_bk_error; }

PyObject* add_type(PyObject* module, TypeShape& shape) {
    PyObject* type = PyType_FromSpec(&shape);
    const char* dot = std::strrchr(shape.name, '.');
    if (type == nullptr || PyModule_AddObject(module, dot != nullptr ? dot + 1 : shape.name, type) < 0) {
        Py_XDECREF(type);
        return nullptr;
    }
    return type;
}

void free_object(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(object);
    Py_DECREF(type);  // a heap type: each instance holds a reference to it
}

std::uint64_t header_length(const unsigned char* bk, std::size_t bk_size) {
    std::uint64_t length = 0;
    return mornak_content_size(bk, std::min<std::size_t>(bk_size, MORNAK_HEADER_BYTES), &length) == MORNAK_OK
               ? length
               : 0;
}

PyObject* raise_fault(const mornak_fault& fault, std::uint64_t bk_size, std::uint64_t length) {
    char text[MORNAK_FAULT_TEXT_BYTES];
    mornak_fault_text(&fault, bk_size, length, text, sizeof text);
    PyObject* error = PyObject_CallFunction(the_bk_error, "ssKIK", text, mornak_status_name(fault.status),
                                            static_cast<unsigned long long>(fault.at_byte), fault.code,
                                            static_cast<unsigned long long>(fault.restored));
    if (error != nullptr) {
        PyErr_SetObject(the_bk_error, error);
        Py_DECREF(error);
    }
    return nullptr;
}

PyObject* raise_status(mornak_status status) {
    switch (status) {
        case MORNAK_ERROR_MEMORY:
            return PyErr_NoMemory();
        case MORNAK_ERROR_TOO_LARGE:
            PyErr_Format(PyExc_ValueError, "mornak: more than %d bytes, which is all a .bk file holds",
                         MORNAK_MAX_INPUT);
            return nullptr;
        case MORNAK_ERROR_INPUT_LONGER:
            PyErr_SetString(PyExc_ValueError, "mornak: more data than the size given");
            return nullptr;
        case MORNAK_ERROR_INPUT_SHORTER:
            PyErr_SetString(PyExc_ValueError, "mornak: less data than the size given");
            return nullptr;
        default:
            PyErr_Format(PyExc_RuntimeError, "mornak: %s", mornak_status_name(status));
            return nullptr;
    }
}

}  // namespace pymornak

PyMODINIT_FUNC PyInit__mornak(void) { return PyModuleDef_Init(&pymornak::module_def); }
