// The _quillet extension module: conversion and error mapping only; the core does the work.
#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace {

int exec_module(PyObject* module) {
    try {
        auto m = py::reinterpret_borrow<py::module_>(module);
        m.attr("__version__") = "0.2.5";
        return 0;
    } catch (py::error_already_set& e) {
        e.restore();
        return -1;
    }
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quillet", "Python module for quillet template matching.", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__quillet() { return PyModuleDef_Init(&module_def); }
