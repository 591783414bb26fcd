// SPDX-License-Identifier: GPL-2.0-only
/*
 * A kernel driver for the end-to-end guest to load beside ferrox: it claims a range of physical
 * memory exclusively (claim_start, claim_size) and offers a PCI driver that binds to whatever
 * function names it in driver_override, so that the guest sees how ferrox treats memory and
 * functions a kernel driver holds.
 */
#include <linux/ioport.h>
#include <linux/module.h>
#include <linux/pci.h>

static unsigned long claim_start;
static unsigned long claim_size;
module_param(claim_start, ulong, 0444);
module_param(claim_size, ulong, 0444);

static struct resource *claim;

static int helper_probe(struct pci_dev *dev, const struct pci_device_id *id)
{
	return 0;
}

static void helper_remove(struct pci_dev *dev)
{
}

static struct pci_driver helper_driver = {
	.name = "ferrox_e2e_helper",
	.probe = helper_probe,
	.remove = helper_remove,
};

static int __init helper_init(void)
{
	int err;

	if (claim_size) {
		claim = request_mem_region_exclusive(claim_start, claim_size, "ferrox_e2e_helper");
		if (!claim)
			return -EBUSY;
	}
	err = pci_register_driver(&helper_driver);
	if (err && claim)
		release_mem_region(claim_start, claim_size);
	return err;
}

static void __exit helper_exit(void)
{
	pci_unregister_driver(&helper_driver);
	if (claim)
		release_mem_region(claim_start, claim_size);
}

module_init(helper_init);
module_exit(helper_exit);

MODULE_DESCRIPTION("Claims memory and binds PCI functions for the ferrox end-to-end tests");
MODULE_LICENSE("GPL");
