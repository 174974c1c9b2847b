"""The whole-program scenarios, one module a kind: each scenario_NAME
function of a module is the scenario NAME, which run_e2e.py finds;
common.py holds what several kinds share."""
