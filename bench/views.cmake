# Rendering the popover for a store change with 5,000 listeners, headless.
quaystone_add_bench(bench_popover_render SOURCES PopoverRenderBench.cpp LIBS quaystone_views)
