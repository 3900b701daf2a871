// What the extension's parts share: a held buffer, the object lock, and
// raising the library's faults as mornak.BkError. Only the stable ABI of
// Python 3.11 is used, so one build serves every later Python.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "mornak.h"

namespace pymornak {

// A bytes-like argument, held (and so pinned: a bytearray cannot be
// resized while it is) for as long as this lives.
class Buffer {
public:
    Buffer() = default;
    ~Buffer() { release(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // False with TypeError set when `object` is not bytes-like (str among
    // them: text has no single encoding to compress).
    bool hold(PyObject* object, bool writable = false);
    void release();
    const unsigned char* data() const { return static_cast<const unsigned char*>(view_.buf); }
    unsigned char* writable_data() const { return static_cast<unsigned char*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Each object's lock: a call waits for it with the GIL released, so that a
// thread holding it and needing the GIL back can finish.
class Locked {
public:
    explicit Locked(PyThread_type_lock lock);
    ~Locked() { PyThread_release_lock(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    PyThread_type_lock lock_;
};

// The module's state: mornak.BkError, found at import.
PyObject* bk_error_class();

// Raises mornak.BkError for `fault` of a .bk file of `bk_size` bytes whose
// header gives `length` (0 when the header is at fault): unmornak's words,
// and the fault's fields. Returns nullptr, for `return raise_fault(...)`.
PyObject* raise_fault(const mornak_fault& fault, std::uint64_t bk_size, std::uint64_t length);

// Raises what fits a status that is no fault of a .bk file: MemoryError,
// ValueError for what the caller gave, RuntimeError otherwise.
PyObject* raise_status(mornak_status status);

// Asks the system for huge pages under a large buffer about to be written
// (a bytes object being filled): a fresh page costs more to fault in than
// the library takes to fill it, and a 2 MiB one is faulted in once.
void prefer_huge_pages(void* data, std::size_t size);

// The header's length of a .bk file's first 8 bytes, or 0 when they are not a sound header.
std::uint64_t header_length(const unsigned char* bk, std::size_t bk_size);

// Python's description of a heap type: its name, size, flags and slots.
using TypeShape = PyType_Spec;

// Makes the type `shape` describes and adds it to the module under the last
// part of its dotted name; nullptr with the error set when it cannot.
PyObject* add_type(PyObject* module, TypeShape& shape);

// The end of every type's dealloc: frees the object and drops its type.
void free_object(PyObject* object);

// The types, made at import.
PyObject* make_compressor_type(PyObject* module);
PyObject* make_decompressor_type(PyObject* module);

}  // namespace pymornak
