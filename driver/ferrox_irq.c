// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * Interrupt requests 18..20: the PC's ISA lines 0..15 forwarded to processes as real-time signals.
 *
 * A line is hooked while at least one descriptor listens on it; each descriptor listens at most once
 * per line. Every interrupt on a hooked line is counted and sent to each listener's process with
 * si_errno = the listener's cookie and si_code = the line. The module does not know the device
 * behind the line: quieting it is the process's work, so only edge-triggered lines are taken (a
 * level-triggered line would fire again at once, for ever).
 */
#include <linux/interrupt.h>
#include <linux/irq.h>
#include <linux/list.h>
#include <linux/mutex.h>
#include <linux/pid.h>
#include <linux/sched/signal.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/uaccess.h>

#include "ferrox.h"

struct ferrox_listener {
	struct list_head node; /* in the line's listeners */
	struct pid *process;   /* the thread group that receives the signals */
	int signal;
	u32 cookie;
};

struct ferrox_line {
	/* Protects listeners against the interrupt handler, which walks them. */
	spinlock_t lock;
	struct list_head listeners;
	atomic_t count; /* interrupts since the module was loaded, counted while hooked */
	bool hooked;    /* the handler is installed; under lines_mutex */
};

/* Serialises listener changes and hooking and unhooking of lines, across all descriptors. */
static DEFINE_MUTEX(lines_mutex);
static struct ferrox_line lines[FERROX_IRQ_LINES];

void ferrox_lines_init(void)
{
	unsigned int i;

	for (i = 0; i < FERROX_IRQ_LINES; i++) {
		spin_lock_init(&lines[i].lock);
		INIT_LIST_HEAD(&lines[i].listeners);
		atomic_set(&lines[i].count, 0);
	}
}

static void notify(const struct ferrox_listener *l, unsigned int line)
{
	struct kernel_siginfo info;
	struct task_struct *task;

	clear_siginfo(&info);
	info.si_signo = l->signal;
	info.si_errno = (int)l->cookie;
	info.si_code = line;
	rcu_read_lock();
	task = pid_task(l->process, PIDTYPE_TGID);
	if (task)
		send_sig_info(l->signal, &info, task);
	rcu_read_unlock();
}

static irqreturn_t line_interrupt(int irq, void *data)
{
	struct ferrox_line *line = data;
	struct ferrox_listener *l;
	unsigned long flags;

	atomic_inc(&line->count);
	spin_lock_irqsave(&line->lock, flags);
	list_for_each_entry(l, &line->listeners, node)
		notify(l, line - lines);
	spin_unlock_irqrestore(&line->lock, flags);
	return IRQ_HANDLED;
}

/*
 * The trigger type is known before the line is taken (the firmware's tables set it at boot), so a
 * level-triggered line is refused without ever being unmasked.
 */
static int line_hook(unsigned int irq)
{
	struct irq_data *data = irq_get_irq_data(irq);
	int err;

	if (!data)
		return -EINVAL;
	if (irqd_is_level_type(data))
		return -EOPNOTSUPP;
	err = request_irq(irq, line_interrupt, 0, FERROX_DEVICE_NAME, &lines[irq]);
	if (err)
		return err;
	lines[irq].hooked = true;
	return 0;
}

static void line_unhook(unsigned int irq)
{
	/* Waits for a handler still running on another CPU. */
	free_irq(irq, &lines[irq]);
	lines[irq].hooked = false;
}

/* The calling process names itself, and the signal is one that queues instead of merging. */
static bool irq_request_valid(const struct ferrox_irq_request *r)
{
	return r->irq < FERROX_IRQ_LINES && r->process_id == task_tgid_vnr(current) &&
	       r->signal >= SIGRTMIN && r->signal <= SIGRTMAX;
}

long ferrox_irq_unmask(struct ferrox_file *f, struct ferrox_irq_request __user *request)
{
	struct ferrox_irq_request r;
	struct ferrox_listener *l;
	struct ferrox_line *line;
	long err = 0;

	if (copy_from_user(&r, request, sizeof(r)))
		return -EFAULT;
	if (!irq_request_valid(&r))
		return -EINVAL;
	line = &lines[r.irq];

	mutex_lock(&lines_mutex);
	if (f->listeners[r.irq]) {
		err = -EBUSY;
		goto out;
	}
	l = kzalloc(sizeof(*l), GFP_KERNEL);
	if (!l) {
		err = -ENOMEM;
		goto out;
	}
	if (!line->hooked) {
		err = line_hook(r.irq);
		if (err)
			goto err_free;
	}
	l->process = get_task_pid(current, PIDTYPE_TGID);
	l->signal = r.signal;
	l->cookie = r.cookie;
	spin_lock_irq(&line->lock);
	list_add_tail(&l->node, &line->listeners);
	spin_unlock_irq(&line->lock);
	f->listeners[r.irq] = l;
	goto out;

err_free:
	kfree(l);
out:
	mutex_unlock(&lines_mutex);
	return err;
}

/* Under lines_mutex. */
static void listener_remove(struct ferrox_file *f, unsigned int irq)
{
	struct ferrox_listener *l = f->listeners[irq];
	struct ferrox_line *line = &lines[irq];

	spin_lock_irq(&line->lock);
	list_del(&l->node);
	spin_unlock_irq(&line->lock);
	if (list_empty(&line->listeners))
		line_unhook(irq);
	f->listeners[irq] = NULL;
	put_pid(l->process);
	kfree(l);
}

long ferrox_irq_mask(struct ferrox_file *f, struct ferrox_irq_request __user *request)
{
	struct ferrox_irq_request r;
	long err = 0;

	if (copy_from_user(&r, request, sizeof(r)))
		return -EFAULT;
	if (!irq_request_valid(&r))
		return -EINVAL;

	mutex_lock(&lines_mutex);
	if (f->listeners[r.irq])
		listener_remove(f, r.irq);
	else
		err = -EINVAL;
	mutex_unlock(&lines_mutex);
	return err;
}

/* Kept below 2^31 so that no count reads as a failed request. */
long ferrox_irq_count(unsigned long line)
{
	if (line >= FERROX_IRQ_LINES)
		return -EINVAL;
	return atomic_read(&lines[line].count) & 0x7FFFFFFF;
}

void ferrox_irq_release(struct ferrox_file *f)
{
	unsigned int irq;

	mutex_lock(&lines_mutex);
	for (irq = 0; irq < FERROX_IRQ_LINES; irq++)
		if (f->listeners[irq])
			listener_remove(f, irq);
	mutex_unlock(&lines_mutex);
}
