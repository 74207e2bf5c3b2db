# Parsing generated listings, and the real listing against bare lsof with 5,000 listeners.
quaystone_add_bench(bench_lsof_parser SOURCES LsofParserBenchmark.cpp LIBS quaystone_core)
quaystone_add_bench(bench_port_listing SOURCES PortListingBenchmark.cpp LIBS quaystone_core)
quaystone_add_bench(bench_socket_table SOURCES ListeningSocketTableBench.cpp support/RealListeners.h LIBS quaystone_core)
# The kernel listing beside lsof on a generated desktop of 51,000 and 201,000 descriptors.
quaystone_add_bench(bench_kernel_listing SOURCES KernelListingBench.cpp support/RealListeners.h LIBS quaystone_core)
