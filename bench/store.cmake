# The popover is attached, so that the event-loop gaps include rendering each change.
quaystone_add_bench(bench_store_refresh SOURCES PortStoreRefreshBench.cpp support/RealListeners.h LIBS quaystone_views)
