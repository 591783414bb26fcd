# SPDX-License-Identifier: MIT
# A component with the driver open on a fresh virtual PC, freed after the test.
import pytest

import ferrox


@pytest.fixture
def pc(vpc):
    with ferrox.Ferrox32() as component:
        yield component
